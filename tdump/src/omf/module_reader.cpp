#include "omf/module_reader.h"

#include <algorithm>

#include "demangle/demangle.h"
#include "omf/fields.h"

namespace tdump::omf {
namespace {

namespace type = recordType;

constexpr std::size_t hexBytesPerLine = 16;

// "** segment index 9 out of range (2 segments)": an index past the
// definitions of its kind.
std::string outOfRange(std::string_view what, std::uint16_t index, std::size_t count)
{
    std::string text = "** ";
    text += what;
    text += " index " + std::to_string(index) + " out of range (" + std::to_string(count) + " ";
    text += what;
    text += "s)";
    return text;
}

} // namespace

std::string shownName(std::string_view name)
{
    return name.empty() ? std::string("\"\"") : printable(name);
}

std::string hexText(std::span<const std::uint8_t> bytes)
{
    std::string text;
    for (const std::uint8_t b : bytes) {
        if (!text.empty()) {
            text += ' ';
        }
        text += toHex(b, 2);
    }
    return text;
}

std::string indexLabel(std::size_t index)
{
    std::string text(1, '[');
    text += std::to_string(index);
    text += "] ";
    return text;
}

std::string_view alignmentName(unsigned align)
{
    static constexpr std::string_view names[] = {"absolute", "byte",  "word",    "paragraph",
                                                 "page",     "dword", "4K page", "undefined"};
    return names[align & 7u];
}

void ModuleReader::line(const std::string& text)
{
    if (list_) {
        out_ << "      " << text << '\n';
    }
}

void ModuleReader::damage(const std::string& what, std::uint64_t offset)
{
    if (list_) {
        report(out_, what, view_.base() + offset);
    }
}

void ModuleReader::cut(const Fields& fields, std::string_view field)
{
    std::string what = "the record ends inside ";
    what += field;
    damage(what, fields.offset());
}

void ModuleReader::leftOver(const Fields& fields)
{
    if (!fields.done()) {
        damage(std::to_string(fields.left()) + " bytes left over after the fields",
               fields.offset());
    }
}

void ModuleReader::hexLines(std::span<const std::uint8_t> bytes, std::uint64_t address)
{
    if (!list_) {
        return;
    }
    for (std::size_t i = 0; i < bytes.size(); i += hexBytesPerLine) {
        out_ << "        " << hex(address + i) << "  "
             << hexText(bytes.subspan(i, std::min(hexBytesPerLine, bytes.size() - i))) << '\n';
    }
}

std::string ModuleReader::indexed(std::uint16_t index, const std::string& text) const
{
    if (!options_.verbose()) {
        return text;
    }
    std::string result = indexLabel(index);
    result += text;
    return result;
}

std::string ModuleReader::nameRef(std::uint16_t index) const
{
    if (index == 0) {
        return "(none)";
    }
    if (index > names_.size()) {
        return outOfRange("name", index, names_.size());
    }
    return indexed(index, shownName(names_[index - 1u]));
}

// The name a segment or group is named by, without the name's own index.
std::string ModuleReader::namedBy(std::uint16_t nameIndex) const
{
    return nameIndex >= 1 && nameIndex <= names_.size() ? shownName(names_[nameIndex - 1u])
                                                        : nameRef(nameIndex);
}

// The symbol a name index names (CEXTDEF, COMDAT), demangled unless -m.
std::string ModuleReader::symbolNamedBy(std::uint16_t nameIndex) const
{
    return nameIndex >= 1 && nameIndex <= names_.size() ? symbol(names_[nameIndex - 1u])
                                                        : nameRef(nameIndex);
}

std::string ModuleReader::segmentRef(std::uint16_t index) const
{
    if (index == 0) {
        return "(none)";
    }
    if (index > segments_.size()) {
        return outOfRange("segment", index, segments_.size());
    }
    return indexed(index, namedBy(segments_[index - 1u].name));
}

std::string ModuleReader::groupRef(std::uint16_t index) const
{
    if (index == 0) {
        return "(none)";
    }
    if (index > groups_.size()) {
        return outOfRange("group", index, groups_.size());
    }
    return indexed(index, namedBy(groups_[index - 1u]));
}

std::string ModuleReader::externalRef(std::uint16_t index) const
{
    if (index == 0 || index > externals_.size()) {
        return outOfRange("external", index, externals_.size());
    }
    return indexed(index, symbol(externals_[index - 1u]));
}

std::string ModuleReader::symbol(std::string_view name) const
{
    return name.empty() ? std::string("\"\"") : displayName(name, options_.demangle());
}

void ModuleReader::newModule()
{
    names_.clear();
    segments_.clear();
    groups_.clear();
    externals_.clear();
    frameThreads_ = {};
    targetThreads_ = {};
    lastData_ = {};
}

void ModuleReader::take(const Record& record, bool list)
{
    list_ = list;
    if ((record.type == type::theadr || record.type == type::lheadr) && started_) {
        newModule();
    }
    started_ = true;
    Fields f(record);
    switch (record.type) {
    case type::theadr:
    case type::lheadr:
        translatorHeader(f);
        break;
    case type::coment:
        comment(f);
        break;
    case type::modend:
    case type::modend32:
        moduleEnd(f);
        break;
    case type::extdef:
    case type::lextdef:
    case type::lextdef32:
        externals(f);
        break;
    case type::pubdef:
    case type::pubdef32:
    case type::lpubdef:
    case type::lpubdef32:
        publics(f);
        break;
    case type::linnum:
    case type::linnum32:
        lineNumbers(f);
        break;
    case type::lnames:
    case type::llnames:
        names(f);
        break;
    case type::segdef:
    case type::segdef32:
        segment(f);
        break;
    case type::grpdef:
        group(f);
        break;
    case type::fixupp:
    case type::fixupp32:
        fixups(f);
        break;
    case type::ledata:
    case type::ledata32:
        enumeratedData(f);
        break;
    case type::lidata:
    case type::lidata32:
        iteratedData(f);
        break;
    case type::comdef:
    case type::lcomdef:
        communals(f);
        break;
    case type::bakpat:
    case type::bakpat32:
    case type::nbkpat:
    case type::nbkpat32:
        backpatches(f);
        break;
    case type::cextdef:
        communalExternals(f);
        break;
    case type::comdat:
    case type::comdat32:
        comdat(f);
        break;
    case type::linsym:
    case type::linsym32:
        lineSymbols(f);
        break;
    case type::alias:
        aliases(f);
        break;
    case type::vernum:
        version(f);
        break;
    case type::vendext:
        vendorExtension(f);
        break;
    default:
        bytes(f);
        break;
    }
}

// A record of a type with no decoder: its bytes.
void ModuleReader::bytes(Fields& f)
{
    hexLines(f.rest(), 0);
}

} // namespace tdump::omf
