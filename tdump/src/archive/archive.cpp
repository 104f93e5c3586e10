#include "archive/archive.h"

#include <algorithm>
#include <array>
#include <vector>

#include "coff/coff.h"
#include "demangle/demangle.h"
#include "import/import_object.h"
#include "names.h"

namespace tdump {
namespace {

constexpr std::size_t maxNameLength = 4096;
constexpr std::uint32_t maxIndexSymbols = 1u << 22;
constexpr std::uint32_t maxMembers = 1u << 22;
// The symbol of the import address table entry: the program's name for the
// import with this in front.
constexpr std::string_view importPointerPrefix = "__imp_";

// "!<arch>\n", ahead of the first member.
constexpr std::array<std::uint8_t, 8> archiveSignature = {'!', '<', 'a', 'r', 'c', 'h', '>', '\n'};

// A member header: text fields, padded with spaces, at fixed places.
struct TextField {
    std::size_t offset;
    std::size_t width;
};
namespace memberHeader {
constexpr TextField name{0, 16};
constexpr TextField date{16, 12};
constexpr TextField mode{40, 8};
constexpr TextField size{48, 10};
constexpr TextField endOfHeader{58, 2};
} // namespace memberHeader
constexpr std::uint64_t headerSize = 60;

// The Microsoft second linker member: the number of members and their
// offsets, the number of symbols and each one's member index, the names.
namespace secondLinkerMember {
constexpr std::uint64_t countSize = 4;
constexpr std::uint64_t offsetSize = 4;
constexpr std::uint64_t indexSize = 2;
} // namespace secondLinkerMember

// The entries of the first linker member (and GNU's index), and of the
// 64-bit index.
constexpr std::uint64_t indexEntrySize = 4;
constexpr std::uint64_t index64EntrySize = 8;

// "\x7F" "ELF", read as a little-endian number.
constexpr std::uint32_t elfMagic = 0x464C457F;

std::string_view field(std::string_view header, TextField f)
{
    return header.substr(f.offset, f.width);
}

std::string trimmed(std::string_view text)
{
    const auto end = text.find_last_not_of(' ');
    return std::string(end == std::string_view::npos ? std::string_view()
                                                     : text.substr(0, end + 1));
}

std::optional<std::uint64_t> decimalField(std::string_view text)
{
    const std::string digits = trimmed(text);
    if (digits.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9' || value > (~std::uint64_t{0} - 9) / 10) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

std::string_view memberKind(View data)
{
    if (isImportObject(data)) {
        return "import (short)";
    }
    if (readBigObjHeader(data)) {
        return "COFF object (extended)";
    }
    if (looksLikeCoffObject(data)) {
        return "COFF object";
    }
    if (data.u32(0) == elfMagic) {
        return "ELF object";
    }
    return "data";
}

// The name an -li line shows is the one a module definition file for the
// DLL holds: the name the DLL exports, by which the loader links an import
// made by name. Where the library keeps only the symbol a program links
// against (imports by ordinal, which need no exported name), that symbol is
// undecorated as i386 C compilers decorate names, by one leading underscore;
// so the entries of a 32-bit library all read alike, and like a 64-bit one.
std::string definitionName(std::string_view symbol, std::uint16_t machine)
{
    if (machine == machineI386 && symbol.starts_with('_')) {
        symbol.remove_prefix(1);
    }
    return std::string(symbol);
}

// An import by ordinal as a module definition writes an export without a
// name in the DLL; the library's name for it, when it has one, goes first.
std::string byOrdinalText(const std::string& name, std::uint64_t ordinal)
{
    return (name.empty() ? name : name + " ") + "@" + std::to_string(ordinal) + " NONAME";
}

// The name of the import address entry a GNU import member defines.
std::optional<std::string> importPointerSymbol(Output& out, const CoffFile& object)
{
    const std::uint32_t count = object.header().symbolCount;
    for (std::uint64_t i = 0; i < count && !out.budget().exhausted();) {
        out.budget().charge(entryCost);
        const auto symbol = object.readSymbol(static_cast<std::uint32_t>(i));
        if (!symbol) {
            return std::nullopt;
        }
        if (symbol->storageClass == storageClassExternal && symbol->section > 0 &&
            symbol->name.size() > importPointerPrefix.size() &&
            symbol->name.starts_with(importPointerPrefix)) {
            return symbol->name;
        }
        i += 1 + std::uint64_t{symbol->auxCount};
    }
    return std::nullopt;
}

} // namespace

bool isArchive(View view)
{
    std::array<std::uint8_t, archiveSignature.size()> magic{};
    return view.read(0, magic) && magic == archiveSignature;
}

Archive::Archive(View view) : view_(view)
{
    // The symbol indexes and the long name table come first; look at the
    // first few members for them.
    int seen = 0;
    walk(nullptr, [&](const Member& m) {
        if (m.name == "/") {
            (firstIndex_ ? secondIndex_ : firstIndex_) = m;
        } else if (m.name == "//") {
            longNames_ = m;
        } else if (m.name == "/SYM64/") {
            index64_ = m;
        }
        return ++seen < 4;
    });
}

std::string Archive::resolveName(std::string_view raw) const
{
    if (raw == "/" || raw == "//" || raw == "/SYM64/" || raw == "/<ECSYMBOLS>/" ||
        raw == "/<HYBRIDMAP>/") {
        return std::string(raw);
    }
    if (raw.size() > 1 && raw[0] == '/' && raw[1] >= '0' && raw[1] <= '9') {
        const auto offset = decimalField(raw.substr(1));
        if (!longNames_ || !offset || *offset >= longNames_->size) {
            return std::string(raw) + " (long name out of range)";
        }
        // GNU ends long names with "/\n", Microsoft with a NUL.
        const View table = view_.sub(longNames_->dataOffset, longNames_->size);
        auto text = table.string(*offset, maxNameLength);
        std::string name = text ? text->text : "";
        if (const std::size_t end = name.find('\n'); end != std::string::npos) {
            name.resize(end);
        }
        if (!name.empty() && name.back() == '/') {
            name.pop_back();
        }
        return printable(name);
    }
    std::string name(raw);
    if (!name.empty() && name.back() == '/') {
        name.pop_back();
    }
    return printable(name);
}

std::optional<Member> Archive::memberAt(std::uint64_t headerOffset, std::string* problem) const
{
    std::array<std::uint8_t, headerSize> raw{};
    if (!view_.read(headerOffset, raw)) {
        *problem = "the member header is truncated";
        return std::nullopt;
    }
    const std::string_view text(reinterpret_cast<const char*>(raw.data()), raw.size());
    if (field(text, memberHeader::endOfHeader) != "`\n") {
        *problem = "the member header does not end in `\\n";
        return std::nullopt;
    }
    const auto size = decimalField(field(text, memberHeader::size));
    if (!size) {
        *problem =
            "the member size \"" + trimmed(field(text, memberHeader::size)) + "\" is not a number";
        return std::nullopt;
    }
    Member m;
    m.headerOffset = headerOffset;
    m.dataOffset = headerOffset + headerSize;
    m.size = *size;
    m.date = printable(trimmed(field(text, memberHeader::date)));
    m.mode = printable(trimmed(field(text, memberHeader::mode)));
    const std::string rawName = trimmed(field(text, memberHeader::name));
    if (rawName.starts_with("#1/")) {
        // BSD: the name is the first bytes of the data.
        const auto length = decimalField(std::string_view(rawName).substr(3));
        const auto name = length && *length <= m.size
                              ? view_.sub(m.dataOffset, *length).string(0, maxNameLength)
                              : std::nullopt;
        m.name = printable(name ? name->text : rawName);
        if (length && *length <= m.size) {
            m.dataOffset += *length;
            m.size -= *length;
        }
    } else {
        m.name = resolveName(rawName);
    }
    m.special = m.name == "/" || m.name == "//" || m.name == "/SYM64/" ||
                m.name == "/<ECSYMBOLS>/" || m.name == "/<HYBRIDMAP>/";
    if (!view_.has(m.dataOffset, m.size)) {
        *problem = "member " + m.name + " claims " + std::to_string(m.size) +
                   " bytes, past the end of the file";
        m.size = view_.size() - std::min(view_.size(), m.dataOffset);
    }
    return m;
}

void Archive::walk(Output* out, const std::function<bool(const Member&)>& visit) const
{
    std::uint64_t at = archiveSignature.size();
    for (std::uint32_t count = 0; at < view_.size(); ++count) {
        if (out != nullptr) {
            if (out->budget().exhausted()) {
                return;
            }
            out->budget().charge(entryCost);
        }
        if (count == maxMembers) {
            if (out) {
                report(*out, "more members than the limit of " + std::to_string(maxMembers),
                       view_.base() + at);
            }
            return;
        }
        std::string problem;
        const auto member = memberAt(at, &problem);
        if (!problem.empty() && out) {
            report(*out, problem, view_.base() + at);
        }
        if (!member || !visit(*member)) {
            return;
        }
        const std::uint64_t end = member->dataOffset + member->size;
        at = end + (end % 2);
        if (!problem.empty()) {
            return; // the member ran past the end: nothing follows it
        }
    }
}

void Archive::listLibrary(Output& out, const Options& options) const
{
    heading(out, "Library members");
    out << "  #      Header at   Size        Kind                     Name\n";
    std::uint32_t number = 0;
    walk(&out, [&](const Member& m) {
        ++number;
        const View data = view_.sub(m.dataOffset, m.size);
        out << "  " << dec(number, 5) << "  " << hex(view_.base() + m.headerOffset) << "  "
            << dec(m.size, 10) << "  "
            << column(m.name == "//" ? std::string_view("(long name table)")
                      : m.special    ? std::string_view("(symbol index)")
                                     : memberKind(data),
                      23)
            << "  " << m.name;
        if (options.verbose()) {
            out << "  date " << m.date << " mode " << m.mode;
        }
        out << '\n';
        return true;
    });
    listSymbolIndex(out, options);
}

void Archive::listSymbolIndex(Output& out, const Options& options) const
{
    heading(out, "Symbol index");
    const auto memberName = [&](std::uint64_t headerOffset) {
        std::string problem;
        const auto m =
            headerOffset < view_.size() ? memberAt(headerOffset, &problem) : std::nullopt;
        return m ? m->name : "** no member header at 0x" + toHex(headerOffset);
    };
    if (secondIndex_) {
        // Microsoft second linker member: little-endian, sorted by name.
        const View data = view_.sub(secondIndex_->dataOffset, secondIndex_->size);
        const std::uint32_t members = data.u32(0).value_or(0);
        const std::uint64_t symbolsAt =
            secondLinkerMember::countSize + std::uint64_t{members} * secondLinkerMember::offsetSize;
        const auto symbols = data.u32(symbolsAt);
        if (!symbols) {
            report(out, "the second linker member is truncated",
                   view_.base() + secondIndex_->dataOffset);
            return;
        }
        out << "  " << dec(*symbols) << " symbols in " << dec(members)
            << " members (second linker member)\n";
        std::uint64_t nameAt = symbolsAt + secondLinkerMember::countSize +
                               std::uint64_t{*symbols} * secondLinkerMember::indexSize;
        for (std::uint32_t i = 0;
             i < std::min(*symbols, maxIndexSymbols) && !out.budget().exhausted(); ++i) {
            out.budget().charge(entryCost);
            const auto memberIndex = data.u16(symbolsAt + secondLinkerMember::countSize +
                                              std::uint64_t{i} * secondLinkerMember::indexSize);
            const auto name = data.string(nameAt, maxNameLength);
            if (!memberIndex || !name) {
                report(out, "the second linker member ends after " + std::to_string(i) + " symbols",
                       view_.base() + secondIndex_->dataOffset);
                return;
            }
            nameAt += name->text.size() + 1;
            const auto offset =
                *memberIndex >= 1 && *memberIndex <= members
                    ? data.u32(secondLinkerMember::countSize +
                               std::uint64_t{*memberIndex - 1u} * secondLinkerMember::offsetSize)
                    : std::nullopt;
            out << "  " << column(displayName(name->text, options.demangle()), 40) << "  "
                << (offset ? memberName(*offset)
                           : "** member index " + std::to_string(*memberIndex) + " out of range")
                << '\n';
        }
        return;
    }
    const std::optional<Member>& index = index64_ ? index64_ : firstIndex_;
    if (!index) {
        out << "  (the library has no symbol index)\n";
        return;
    }
    // GNU (and Microsoft first) linker member: big-endian offsets.
    const bool wide = index64_.has_value();
    const std::uint64_t width = wide ? index64EntrySize : indexEntrySize;
    const View data = view_.sub(index->dataOffset, index->size);
    const auto count = wide ? data.u64be(0) : std::optional<std::uint64_t>(data.u32be(0));
    if (!count) {
        report(out, "the symbol index is truncated", view_.base() + index->dataOffset);
        return;
    }
    out << "  " << dec(*count) << " symbols\n";
    if (*count > data.size() / width) {
        report(out, "the symbol count " + std::to_string(*count) + " does not fit in the index",
               view_.base() + index->dataOffset);
        return;
    }
    std::uint64_t nameAt = width + *count * width;
    for (std::uint64_t i = 0;
         i < std::min<std::uint64_t>(*count, maxIndexSymbols) && !out.budget().exhausted(); ++i) {
        out.budget().charge(entryCost);
        const auto offset = wide ? data.u64be(width + i * width)
                                 : std::optional<std::uint64_t>(data.u32be(width + i * width));
        const auto name = data.string(nameAt, maxNameLength);
        if (!offset || !name) {
            report(out, "the symbol index ends after " + std::to_string(i) + " names",
                   view_.base() + index->dataOffset + std::min(nameAt, data.size()));
            return;
        }
        nameAt += name->text.size() + 1;
        out << "  " << column(displayName(name->text, options.demangle()), 40) << "  "
            << memberName(*offset) << '\n';
    }
}

void Archive::listMembers(Output& out, const std::function<void(const Member&, View)>& show) const
{
    std::uint32_t number = 0;
    walk(&out, [&](const Member& m) {
        ++number;
        if (m.special) {
            return true;
        }
        out << "\n==== Member " << dec(number) << ": " << m.name << " (" << dec(m.size)
            << " bytes at file offset 0x" << hex(view_.base() + m.dataOffset, 1) << ")\n";
        show(m, view_.sub(m.dataOffset, m.size));
        return true;
    });
}

void Archive::listImpdef(Output& out, const Options& options) const
{
    heading(out, "Module definition (IMPDEF)");
    // Lines grouped by DLL, in the order the DLLs first appear.
    std::vector<std::pair<std::string, std::string>> modules; // DLL, its lines
    const auto add = [&](const std::string& dll, const std::string& line) {
        auto it = std::find_if(modules.begin(), modules.end(),
                               [&](const auto& m) { return m.first == dll; });
        if (it == modules.end()) {
            modules.emplace_back(dll, std::string());
            it = std::prev(modules.end());
        }
        it->second += line;
    };
    // Import libraries made by GNU dlltool hold ordinary objects: the DLL
    // name sits in an .idata$7 section, each import's hint and name in .idata$6.
    std::string gnuDll;
    std::vector<std::string> gnuLines;
    walk(&out, [&](const Member& m) {
        if (m.special) {
            return true;
        }
        const View data = view_.sub(m.dataOffset, m.size);
        if (isImportObject(data)) {
            const ImportFields f = readImportObject(data);
            for (const std::string& problem : f.problems) {
                report(out, problem, view_.base() + m.dataOffset);
            }
            if (!f.namesComplete) {
                return true; // a cut name would list an import that is not there
            }
            const bool byOrdinal = f.nameType == importNameOrdinal;
            const std::string name =
                byOrdinal ? definitionName(f.symbol, f.machine) : exportedName(f);
            if (!matchesFilter(name, options.impdefFilter)) {
                return true;
            }
            std::string line = "    " + (byOrdinal ? byOrdinalText(name, f.ordinalOrHint) : name);
            if (f.type == importData) {
                line += " DATA";
            } else if (f.type == importConst) {
                line += " CONSTANT";
            }
            add(f.dll, line + "\n");
            return true;
        }
        const auto header = readCoffHeader(data, 0);
        if (!header || !looksLikeCoffObject(data)) {
            return true;
        }
        const CoffFile object(data, *header);
        const auto& sections = object.sections();
        const auto named = [&](std::string_view name) {
            return std::find_if(sections.begin(), sections.end(), [&](const SectionHeader& s) {
                return s.name == name && s.rawSize != 0 && data.has(s.rawPointer, s.rawSize);
            });
        };
        const auto dllNameOrHintName = named(".idata$6");
        if (named(".idata$2") != sections.end()) {
            // The member with the import descriptor: LLVM's and Microsoft's
            // librarians keep the DLL name in its .idata$6, which elsewhere
            // holds a hint and name. Their imports are short members, which
            // name the DLL themselves.
            if (dllNameOrHintName != sections.end()) {
                const auto dll = data.sub(dllNameOrHintName->rawPointer, dllNameOrHintName->rawSize)
                                     .string(0, maxNameLength);
                if (!dll || !dll->terminated || dll->text.empty()) {
                    report(out, "the import descriptor's DLL name is empty or not terminated",
                           view_.base() + m.dataOffset + dllNameOrHintName->rawPointer);
                }
            }
            return true;
        }
        if (const auto dllName = named(".idata$7");
            dllName != sections.end() && dllName->rawSize > 4) {
            const auto dll = data.string(dllName->rawPointer,
                                         std::min<std::size_t>(dllName->rawSize, maxNameLength));
            if (dll && !dll->text.empty()) {
                gnuDll = printable(dll->text);
            }
        }
        // Imports of data have no jump stub in .text.
        const std::string kind = named(".text") == sections.end() ? " DATA" : "";
        if (dllNameOrHintName != sections.end() &&
            dllNameOrHintName->rawSize > importByName::name) {
            const auto name = data.sub(dllNameOrHintName->rawPointer, dllNameOrHintName->rawSize)
                                  .string(importByName::name, maxNameLength);
            if (name && matchesFilter(name->text, options.impdefFilter)) {
                gnuLines.push_back("    " + printable(name->text) + kind + "\n");
            }
        } else if (const auto lookup = named(".idata$4");
                   lookup != sections.end() && lookup->rawSize >= thunk32Size) {
            // No hint/name entry: imported by ordinal, the flag in the top bit.
            const bool wide = lookup->rawSize >= thunk64Size;
            const auto entry = wide ? data.u64(lookup->rawPointer)
                                    : std::optional<std::uint64_t>(data.u32(lookup->rawPointer));
            const std::uint64_t flag = wide ? ordinalFlag64 : ordinalFlag32;
            if (!entry || (*entry & flag) == 0) {
                return true;
            }
            const std::string ordinal = std::to_string(*entry & ordinalMask);
            // The DLL need not export a name for it; the library's name is
            // that of the import address entry's symbol.
            const auto pointer = importPointerSymbol(out, object);
            if (!pointer) {
                report(out,
                       "no " + std::string(importPointerPrefix) +
                           " symbol names the import by ordinal " + ordinal,
                       view_.base() + m.dataOffset + header->symbolTableOffset);
            }
            const std::string name =
                pointer
                    ? definitionName(pointer->substr(importPointerPrefix.size()), header->machine)
                    : std::string();
            if (matchesFilter(name, options.impdefFilter)) {
                gnuLines.push_back("    " + byOrdinalText(name, *entry & ordinalMask) + kind +
                                   "\n");
            }
        }
        return true;
    });
    for (const std::string& line : gnuLines) {
        add(gnuDll.empty() ? std::string("(DLL name not found)") : gnuDll, line);
    }
    if (modules.empty()) {
        if (options.impdefFilter.empty()) {
            out << "  (no import members)\n";
        } else {
            out << "  (no import matches \"" << options.impdefFilter << "\")\n";
        }
    }
    for (const auto& [dll, lines] : modules) {
        out << "LIBRARY     " << dll << "\nEXPORTS\n" << lines;
    }
}

} // namespace tdump
