#include "omf/records.h"

#include <algorithm>
#include <numeric>
#include <utility>

#include "demangle/demangle.h"
#include "display/file_display.h"
#include "omf/omf.h"
#include "omf/record_types.h"

namespace tdump {
namespace {

// The record types of the format, the obsolete ones included: a file that
// holds one is still an OMF file. The 32-bit form of a type is the odd one.
namespace type {
constexpr std::uint8_t theadr = omf::recordTheadr;
constexpr std::uint8_t lheadr = omf::recordLheadr;
constexpr std::uint8_t coment = omf::recordComent;
constexpr std::uint8_t modend = omf::recordModend;
constexpr std::uint8_t modend32 = omf::recordModend32;
constexpr std::uint8_t extdef = 0x8C;
constexpr std::uint8_t pubdef = 0x90;
constexpr std::uint8_t pubdef32 = 0x91;
constexpr std::uint8_t linnum = 0x94;
constexpr std::uint8_t linnum32 = 0x95;
constexpr std::uint8_t lnames = 0x96;
constexpr std::uint8_t segdef = 0x98;
constexpr std::uint8_t segdef32 = 0x99;
constexpr std::uint8_t grpdef = 0x9A;
constexpr std::uint8_t fixupp = 0x9C;
constexpr std::uint8_t fixupp32 = 0x9D;
constexpr std::uint8_t ledata = 0xA0;
constexpr std::uint8_t ledata32 = 0xA1;
constexpr std::uint8_t lidata = 0xA2;
constexpr std::uint8_t lidata32 = 0xA3;
constexpr std::uint8_t comdef = 0xB0;
constexpr std::uint8_t bakpat = 0xB2;
constexpr std::uint8_t bakpat32 = 0xB3;
constexpr std::uint8_t lextdef = 0xB4;
constexpr std::uint8_t lextdef32 = 0xB5;
constexpr std::uint8_t lpubdef = 0xB6;
constexpr std::uint8_t lpubdef32 = 0xB7;
constexpr std::uint8_t lcomdef = 0xB8;
constexpr std::uint8_t cextdef = 0xBC;
constexpr std::uint8_t comdat = 0xC2;
constexpr std::uint8_t comdat32 = 0xC3;
constexpr std::uint8_t linsym = 0xC4;
constexpr std::uint8_t linsym32 = 0xC5;
constexpr std::uint8_t alias = 0xC6;
constexpr std::uint8_t nbkpat = 0xC8;
constexpr std::uint8_t nbkpat32 = 0xC9;
constexpr std::uint8_t llnames = 0xCA;
constexpr std::uint8_t vernum = 0xCC;
constexpr std::uint8_t vendext = 0xCE;
} // namespace type

struct RecordType {
    std::uint8_t type;
    std::string_view name;
};

constexpr RecordType recordTypes[] = {
    {0x6E, "RHEADR"},
    {0x70, "REGINT"},
    {0x72, "REDATA"},
    {0x74, "RIDATA"},
    {0x76, "OVLDEF"},
    {0x78, "ENDREC"},
    {0x7A, "BLKDEF"},
    {0x7C, "BLKEND"},
    {0x7E, "DEBSYM"},
    {type::theadr, "THEADR"},
    {type::lheadr, "LHEADR"},
    {0x84, "PEDATA"},
    {0x86, "PIDATA"},
    {type::coment, "COMENT"},
    {type::modend, "MODEND"},
    {type::modend32, "MODEND32"},
    {type::extdef, "EXTDEF"},
    {0x8E, "TYPDEF"},
    {type::pubdef, "PUBDEF"},
    {type::pubdef32, "PUBDEF32"},
    {0x92, "LOCSYM"},
    {type::linnum, "LINNUM"},
    {type::linnum32, "LINNUM32"},
    {type::lnames, "LNAMES"},
    {type::segdef, "SEGDEF"},
    {type::segdef32, "SEGDEF32"},
    {type::grpdef, "GRPDEF"},
    {type::fixupp, "FIXUPP"},
    {type::fixupp32, "FIXUPP32"},
    {type::ledata, "LEDATA"},
    {type::ledata32, "LEDATA32"},
    {type::lidata, "LIDATA"},
    {type::lidata32, "LIDATA32"},
    {0xA4, "LIBHED"},
    {0xA6, "LIBNAM"},
    {0xA8, "LIBLOC"},
    {0xAA, "LIBDIC"},
    {type::comdef, "COMDEF"},
    {type::bakpat, "BAKPAT"},
    {type::bakpat32, "BAKPAT32"},
    {type::lextdef, "LEXTDEF"},
    {type::lextdef32, "LEXTDEF32"},
    {type::lpubdef, "LPUBDEF"},
    {type::lpubdef32, "LPUBDEF32"},
    {type::lcomdef, "LCOMDEF"},
    {type::cextdef, "CEXTDEF"},
    {type::comdat, "COMDAT"},
    {type::comdat32, "COMDAT32"},
    {type::linsym, "LINSYM"},
    {type::linsym32, "LINSYM32"},
    {type::alias, "ALIAS"},
    {type::nbkpat, "NBKPAT"},
    {type::nbkpat32, "NBKPAT32"},
    {type::llnames, "LLNAMES"},
    {type::vernum, "VERNUM"},
    {type::vendext, "VENDEXT"},
    {omf::recordLibraryHeader, "LIBHDR"},
    {omf::recordLibraryEnd, "LIBEND"},
};

} // namespace

std::string_view omfRecordName(std::uint8_t type)
{
    const auto* found = std::find_if(std::begin(recordTypes), std::end(recordTypes),
                                     [type](const RecordType& r) { return r.type == type; });
    return found == std::end(recordTypes) ? std::string_view() : found->name;
}

std::string_view omfRecordFamily(std::uint8_t type)
{
    std::string_view name = omfRecordName(type);
    if ((type & 1u) != 0 && name.ends_with("32")) {
        name.remove_suffix(2);
    }
    return name;
}

bool isOmfRecordName(std::string_view name)
{
    return std::any_of(std::begin(recordTypes), std::end(recordTypes), [&](const RecordType& r) {
        return r.name == name || omfRecordFamily(r.type) == name;
    });
}

std::string omfRecordNames()
{
    std::string names;
    for (const RecordType& r : recordTypes) {
        if (!names.empty()) {
            names += ' ';
        }
        names += r.name;
    }
    return names;
}

bool isOmfRecordType(std::uint8_t type)
{
    return !omfRecordName(type).empty();
}

namespace omf {
namespace {

// Definitions past this many can never be referred to: indexes have 15 bits.
constexpr std::size_t maxDefinitions = 0x7FFF;
// How deep iterated data may nest, and how much it may expand to: no
// segment holds more than 4 GiB.
constexpr unsigned maxIteratedDepth = 16;
constexpr std::uint64_t maxExpandedSize = std::uint64_t{1} << 32;
constexpr std::size_t hexBytesPerLine = 16;

// COMENT: the bits of the comment type byte, and the classes.
constexpr std::uint8_t commentNoPurge = 0x80;
constexpr std::uint8_t commentNoList = 0x40;
namespace commentClass {
constexpr std::uint8_t librarySpecifier = 0x81;
constexpr std::uint8_t dosVersion = 0x9C;
constexpr std::uint8_t memoryModel = 0x9D;
constexpr std::uint8_t dosseg = 0x9E;
constexpr std::uint8_t defaultLibrary = 0x9F;
constexpr std::uint8_t omfExtensions = 0xA0;
constexpr std::uint8_t newOmfExtension = 0xA1;
constexpr std::uint8_t linkPassSeparator = 0xA2;
constexpr std::uint8_t libmod = 0xA3;
constexpr std::uint8_t incerr = 0xA6;
constexpr std::uint8_t nopad = 0xA7;
constexpr std::uint8_t wkext = 0xA8;
constexpr std::uint8_t lzext = 0xA9;
constexpr std::uint8_t dependencyFile = 0xE9;
} // namespace commentClass

// The subtypes of the OMF extension comments (class A0).
namespace extension {
constexpr std::uint8_t impdef = 0x01;
constexpr std::uint8_t expdef = 0x02;
constexpr std::uint8_t incdef = 0x03;
constexpr std::uint8_t protectedMemoryLibrary = 0x04;
constexpr std::uint8_t lnkdir = 0x05;
} // namespace extension

// EXPDEF's flag byte.
constexpr std::uint8_t exportByOrdinal = 0x80;
constexpr std::uint8_t exportResident = 0x40;
constexpr std::uint8_t exportNoData = 0x20;
constexpr std::uint8_t exportParameterMask = 0x1F;

// MODEND's module type byte.
constexpr std::uint8_t moduleMain = 0x80;
constexpr std::uint8_t moduleStart = 0x40;
constexpr std::uint8_t moduleLogicalStart = 0x01;

// SEGDEF's attribute byte: alignment, combination, big, use32.
constexpr unsigned segmentAlignShift = 5;
constexpr unsigned segmentCombineShift = 2;
constexpr std::uint8_t segmentCombineMask = 7;
constexpr std::uint8_t segmentBig = 0x02;
constexpr std::uint8_t segmentUse32 = 0x01;
constexpr std::uint8_t alignAbsolute = 0;

// GRPDEF: the component type of a segment index.
constexpr std::uint8_t groupSegmentComponent = 0xFF;

// FIXUPP: the first byte of a subrecord tells threads from fixups.
constexpr std::uint8_t subrecordFixup = 0x80;
constexpr std::uint8_t threadIsFrame = 0x40;
constexpr unsigned threadMethodShift = 2;
constexpr std::uint8_t threadMethodMask = 7;
constexpr std::uint8_t threadNumberMask = 3;
constexpr std::uint8_t fixupSegmentRelative = 0x40;
constexpr unsigned fixupLocationShift = 2;
constexpr std::uint8_t fixupLocationMask = 0x0F;
constexpr std::uint16_t fixupOffsetMask = 0x3FF;
// The fix data byte: frame by thread, frame method, target by thread,
// no displacement, target method.
constexpr std::uint8_t fixFrameThread = 0x80;
constexpr unsigned fixFrameShift = 4;
constexpr std::uint8_t fixFrameMask = 7;
constexpr std::uint8_t fixTargetThread = 0x08;
constexpr std::uint8_t fixNoDisplacement = 0x04;
constexpr std::uint8_t fixTargetMask = 3;
// Frame methods F0-F2 and target methods T0-T2 name something by index;
// F3 and T3 give a frame number.
constexpr std::uint8_t methodsWithIndex = 3;
constexpr std::uint8_t methodFrameNumber = 3;

// COMDEF data types, and the prefixes of its longer numbers.
constexpr std::uint8_t communalFar = 0x61;
constexpr std::uint8_t communalNear = 0x62;
constexpr std::uint8_t numberInByte = 0x80;
constexpr std::uint8_t number16 = 0x81;
constexpr std::uint8_t number24 = 0x84;
constexpr std::uint8_t number32 = 0x88;

// COMDAT's flag and attribute bytes.
constexpr std::uint8_t comdatContinuation = 0x01;
constexpr std::uint8_t comdatIterated = 0x02;
constexpr std::uint8_t comdatLocal = 0x04;
constexpr std::uint8_t comdatCodeSegment = 0x08;
constexpr unsigned comdatSelectionShift = 4;
constexpr std::uint8_t comdatAllocationMask = 0x0F;
constexpr std::uint8_t allocationExplicit = 0;

std::string_view commentClassName(std::uint8_t c)
{
    switch (c) {
    case 0x00:
        return "translator";
    case 0x01:
        return "copyright";
    case commentClass::librarySpecifier:
        return "library specifier";
    case commentClass::dosVersion:
        return "MS-DOS version";
    case commentClass::memoryModel:
        return "memory model";
    case commentClass::dosseg:
        return "DOSSEG";
    case commentClass::defaultLibrary:
        return "default library search";
    case commentClass::omfExtensions:
        return "OMF extensions";
    case commentClass::newOmfExtension:
        return "new OMF extension";
    case commentClass::linkPassSeparator:
        return "link pass separator";
    case commentClass::libmod:
        return "LIBMOD";
    case 0xA4:
        return "EXESTR";
    case commentClass::incerr:
        return "INCERR";
    case commentClass::nopad:
        return "NOPAD";
    case commentClass::wkext:
        return "WKEXT";
    case commentClass::lzext:
        return "LZEXT";
    case 0xDA:
        return "comment";
    case 0xDB:
        return "compiler";
    case 0xDC:
        return "date";
    case 0xDD:
        return "timestamp";
    case 0xDF:
        return "user";
    case commentClass::dependencyFile:
        return "dependency file";
    case 0xFF:
        return "command line";
    default:
        break;
    }
    return c >= 0xC0 ? "user-defined" : "unknown";
}

std::string_view alignmentName(unsigned a)
{
    static constexpr std::string_view names[] = {"absolute", "byte",  "word",    "paragraph",
                                                 "page",     "dword", "4K page", "undefined"};
    return names[a & 7u];
}

std::string_view combinationName(unsigned c)
{
    static constexpr std::string_view names[] = {"private",  "reserved 1", "public", "reserved 3",
                                                 "public 4", "stack",      "common", "public 7"};
    return names[c & 7u];
}

std::string locationName(unsigned location)
{
    switch (location) {
    case 0:
        return "low byte";
    case 1:
        return "offset16";
    case 2:
        return "base16";
    case 3:
        return "pointer16:16";
    case 4:
        return "high byte";
    case 5:
        return "offset16 (loader)";
    case 9:
        return "offset32";
    case 11:
        return "pointer16:32";
    case 13:
        return "offset32 (loader)";
    default:
        break;
    }
    return "location " + std::to_string(location) + " (reserved)";
}

std::string_view backpatchLocationName(std::uint8_t location)
{
    static constexpr std::string_view names[] = {"byte", "word", "dword"};
    return location < std::size(names) ? names[location] : "unknown";
}

std::string selectionName(unsigned selection)
{
    static constexpr std::string_view names[] = {"no match", "pick any", "same size",
                                                 "exact match"};
    return selection < std::size(names) ? std::string(names[selection])
                                        : "reserved " + std::to_string(selection);
}

std::string allocationName(unsigned allocation)
{
    static constexpr std::string_view names[] = {"explicit", "far code", "far data", "code32",
                                                 "data32"};
    return allocation < std::size(names) ? std::string(names[allocation])
                                         : "reserved " + std::to_string(allocation);
}

std::string comdatAlignName(std::uint8_t align)
{
    return align == 0  ? "from the segment"
           : align < 8 ? std::string(alignmentName(align))
                       : std::to_string(align);
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

// "[3] ": the index of a definition, by which later records refer to it.
std::string numbered(std::size_t index)
{
    std::string text(1, '[');
    text += std::to_string(index);
    text += "] ";
    return text;
}

// A name as a listing shows it: "" when empty.
std::string shownName(std::string_view name)
{
    return name.empty() ? std::string("\"\"") : printable(name);
}

std::uint64_t capped(std::uint64_t value)
{
    return std::min(value, maxExpandedSize + 1);
}

std::uint64_t multiplyCapped(std::uint64_t a, std::uint64_t b)
{
    if (a == 0 || b == 0) {
        return 0;
    }
    return a > maxExpandedSize / b ? maxExpandedSize + 1 : capped(a * b);
}

// An MS-DOS date and time, as the dependency comments carry them.
std::string dosTimeText(std::uint16_t time, std::uint16_t date)
{
    const auto two = [](unsigned v) { return (v < 10 ? "0" : "") + std::to_string(v); };
    std::string text = std::to_string(1980 + (date >> 9u));
    text += '-';
    text += two((date >> 5u) & 15u);
    text += '-';
    text += two(date & 31u);
    text += ' ';
    text += two(time >> 11u);
    text += ':';
    text += two((time >> 5u) & 63u);
    text += ':';
    text += two((time & 31u) * 2);
    return text;
}

} // namespace

// The fields of one record, read from the front; every read checks what is
// left, so a field cut short yields nullopt and never a byte past the end.
class ModuleReader::Fields {
public:
    explicit Fields(const Record& record)
        : bytes_(record.contents), base_(record.contentsOffset()), type_(record.type)
    {
    }

    // The record's type, and whether it is the 32-bit form.
    std::uint8_t type() const { return type_; }
    bool wide() const { return (type_ & 1) != 0; }

    bool done() const { return at_ >= bytes_.size(); }
    std::size_t left() const { return bytes_.size() - at_; }
    // The view offset of the next byte, for reports.
    std::uint64_t offset() const { return base_ + at_; }

    std::optional<std::uint8_t> u8()
    {
        if (left() < 1) {
            return std::nullopt;
        }
        return bytes_[at_++];
    }
    std::optional<std::uint16_t> u16()
    {
        if (left() < 2) {
            return std::nullopt;
        }
        at_ += 2;
        return le16(&bytes_[at_ - 2]);
    }
    std::optional<std::uint32_t> u24()
    {
        if (left() < 3) {
            return std::nullopt;
        }
        at_ += 3;
        return static_cast<std::uint32_t>(bytes_[at_ - 3] | (bytes_[at_ - 2] << 8) |
                                          (bytes_[at_ - 1] << 16));
    }
    std::optional<std::uint32_t> u32()
    {
        if (left() < 4) {
            return std::nullopt;
        }
        at_ += 4;
        return le32(&bytes_[at_ - 4]);
    }
    // An offset or a repeat count: 32 bits in the 32-bit forms of records.
    std::optional<std::uint32_t> word()
    {
        if (wide()) {
            return u32();
        }
        const auto value = u16();
        return value ? std::optional<std::uint32_t>(*value) : std::nullopt;
    }
    // An index: one byte below 0x80, else two with the high bit of the first dropped.
    std::optional<std::uint16_t> index()
    {
        const auto first = u8();
        if (!first || *first < 0x80) {
            return first;
        }
        const auto second = u8();
        if (!second) {
            return std::nullopt;
        }
        return static_cast<std::uint16_t>(((*first & 0x7Fu) << 8) | *second);
    }
    // A name: its length in one byte, then its characters.
    std::optional<std::string> name()
    {
        const std::size_t start = at_;
        const auto length = u8();
        const auto text = length ? take(*length) : std::nullopt;
        if (!text) {
            at_ = start;
            return std::nullopt;
        }
        return std::string(text->begin(), text->end());
    }
    // A number of a communal definition: up to 0x80 in its byte, else in
    // the 2, 3 or 4 bytes its first byte announces. Sets badPrefix to a
    // first byte that announces none of them.
    std::optional<std::uint32_t> communalNumber(std::optional<std::uint8_t>& badPrefix)
    {
        const auto first = u8();
        if (!first || *first <= numberInByte) {
            return first;
        }
        switch (*first) {
        case number16: {
            const auto v = u16();
            return v ? std::optional<std::uint32_t>(*v) : std::nullopt;
        }
        case number24:
            return u24();
        case number32:
            return u32();
        default:
            badPrefix = first;
            return std::nullopt;
        }
    }
    std::optional<std::span<const std::uint8_t>> take(std::size_t n)
    {
        if (left() < n) {
            return std::nullopt;
        }
        at_ += n;
        return bytes_.subspan(at_ - n, n);
    }
    std::span<const std::uint8_t> rest()
    {
        const auto all = bytes_.subspan(at_);
        at_ = bytes_.size();
        return all;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::uint64_t base_;
    std::uint8_t type_;
    std::size_t at_ = 0;
};

std::uint64_t walkRecords(View view, std::uint64_t from, std::uint64_t to, Output& out,
                          const std::function<bool(const Record&)>& visit)
{
    to = std::min(to, view.size());
    std::uint64_t at = from;
    while (at < to && !out.budget().exhausted()) {
        std::array<std::uint8_t, recordHeaderSize> header{};
        if (to - at < recordHeaderSize || !view.read(at, header)) {
            report(out,
                   std::to_string(to - at) + " bytes at the end are too few for a record header",
                   view.base() + at);
            return to;
        }
        Record r;
        r.offset = at;
        r.type = header[0];
        r.length = le16(&header[1]);
        const std::uint64_t room = to - at - recordHeaderSize;
        const std::uint64_t size = std::min<std::uint64_t>(r.length, room);
        r.truncated = r.length > room;
        r.contents.resize(static_cast<std::size_t>(size));
        if (!view.read(r.contentsOffset(), r.contents)) {
            r.contents.clear();
            r.truncated = true;
        }
        if (!r.truncated && !r.contents.empty()) {
            r.checksum = r.contents.back();
            r.contents.pop_back();
        }
        out.budget().charge(entryCost + r.contents.size());
        const bool more = visit(r);
        if (r.truncated) {
            report(out,
                   "the record length " + std::to_string(r.length) + " runs past the end of the " +
                       (to == view.size() ? "file" : "modules") + ": " + std::to_string(room) +
                       " bytes follow the length",
                   view.base() + at + 1);
            return to;
        }
        if (r.length == 0) {
            report(out, "the record length 0 leaves no room for the checksum byte",
                   view.base() + at + 1);
        }
        if (!more) {
            return r.end();
        }
        at = r.end();
    }
    return at;
}

bool recordSelected(const Options& options, std::uint8_t type)
{
    const std::string_view name = omfRecordName(type);
    const std::string_view family = omfRecordFamily(type);
    const auto names = [&](const std::string& wanted) {
        return !name.empty() && (wanted == name || wanted == family);
    };
    return options.records.chooses(names);
}

void listRecordLine(Output& out, View view, const Record& record, const Options& options)
{
    const std::string_view name = omfRecordName(record.type);
    out << "  " << hex(view.base() + record.offset) << "  " << hex(record.type, 2) << "  "
        << column(name.empty() ? std::string_view("(unknown)") : name, 9) << ' '
        << dec(record.length, 5);
    if (options.verbose() && record.checksum) {
        out << "  checksum " << hex(*record.checksum, 2);
    }
    out << '\n';
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
    std::string result = numbered(index);
    result += text;
    return result;
}

std::string ModuleReader::nameRef(std::uint16_t index) const
{
    if (index == 0) {
        return "(none)";
    }
    if (index > names_.size()) {
        return "** name index " + std::to_string(index) + " out of range (" +
               std::to_string(names_.size()) + " names)";
    }
    return indexed(index, shownName(names_[index - 1u]));
}

std::string ModuleReader::segmentRef(std::uint16_t index) const
{
    if (index == 0) {
        return "(none)";
    }
    if (index > segments_.size()) {
        return "** segment index " + std::to_string(index) + " out of range (" +
               std::to_string(segments_.size()) + " segments)";
    }
    const std::uint16_t name = segments_[index - 1u].name;
    return indexed(index, name >= 1 && name <= names_.size() ? shownName(names_[name - 1u])
                                                             : nameRef(name));
}

std::string ModuleReader::groupRef(std::uint16_t index) const
{
    if (index == 0) {
        return "(none)";
    }
    if (index > groups_.size()) {
        return "** group index " + std::to_string(index) + " out of range (" +
               std::to_string(groups_.size()) + " groups)";
    }
    const std::uint16_t name = groups_[index - 1u];
    return indexed(index, name >= 1 && name <= names_.size() ? shownName(names_[name - 1u])
                                                             : nameRef(name));
}

std::string ModuleReader::externalRef(std::uint16_t index) const
{
    if (index == 0 || index > externals_.size()) {
        return "** external index " + std::to_string(index) + " out of range (" +
               std::to_string(externals_.size()) + " externals)";
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

void ModuleReader::translatorHeader(Fields& f)
{
    const auto name = f.name();
    if (!name) {
        cut(f, "the module name");
        return;
    }
    line("name " + shownName(*name));
    if (summary_.name.empty()) {
        summary_.name = *name;
    }
    leftOver(f);
}

void ModuleReader::comment(Fields& f)
{
    const auto flags = f.u8();
    const auto kind = f.u8();
    if (!flags || !kind) {
        cut(f, "the comment type and class");
        return;
    }
    std::string text = "class " + toHex(*kind, 2) + " " + std::string(commentClassName(*kind));
    if ((*flags & commentNoPurge) != 0) {
        text += "  no purge";
    }
    if ((*flags & commentNoList) != 0) {
        text += "  no list";
    }
    line(text);
    switch (*kind) {
    case commentClass::dosseg:
    case commentClass::incerr:
        leftOver(f);
        return;
    case commentClass::dosVersion: {
        const auto v = f.u16();
        if (!v) {
            cut(f, "the MS-DOS version");
            return;
        }
        line("version " + std::to_string(*v >> 8u) + "." + std::to_string(*v & 0xFFu));
        leftOver(f);
        return;
    }
    case commentClass::omfExtensions:
        omfExtension(f);
        return;
    case commentClass::newOmfExtension: {
        if (f.done()) {
            return; // nothing but the class
        }
        const unsigned v = f.u8().value_or(0);
        const auto style = f.rest();
        line("debug information version " + std::to_string(v) + " " +
             printable(std::string(style.begin(), style.end())));
        return;
    }
    case commentClass::linkPassSeparator: {
        const auto pass = f.u8();
        if (!pass) {
            cut(f, "the link pass");
            return;
        }
        line("link pass " + std::to_string(*pass) + (*pass == 1 ? ": pass 2 starts here" : ""));
        leftOver(f);
        return;
    }
    case commentClass::libmod: {
        const auto name = f.name();
        if (!name) {
            cut(f, "the library module name");
            return;
        }
        line("module " + shownName(*name));
        leftOver(f);
        return;
    }
    case commentClass::nopad:
        while (!f.done()) {
            const auto segmentIndex = f.index();
            if (!segmentIndex) {
                cut(f, "a segment index");
                return;
            }
            line("no padding " + segmentRef(*segmentIndex));
        }
        return;
    case commentClass::wkext:
        while (!f.done()) {
            const auto weak = f.index();
            const auto fallback = f.index();
            if (!weak || !fallback) {
                cut(f, "a pair of external indexes");
                return;
            }
            line("weak " + externalRef(*weak) + "  default " + externalRef(*fallback));
        }
        return;
    case commentClass::lzext:
        while (!f.done()) {
            const auto lazy = f.index();
            if (!lazy) {
                cut(f, "an external index");
                return;
            }
            line("lazy " + externalRef(*lazy));
        }
        return;
    case commentClass::dependencyFile: {
        if (f.done()) {
            line("end of the dependency list");
            return;
        }
        const auto time = f.u16();
        const auto date = f.u16();
        const auto name = time && date ? f.name() : std::nullopt;
        if (!name) {
            cut(f, "the dependency's time, date and name");
            return;
        }
        line("dependency " + shownName(*name) + "  " + dosTimeText(*time, *date));
        leftOver(f);
        return;
    }
    default: {
        // Text; some translators (NASM) give it a length byte, as a name.
        // What holds control bytes is no text: its bytes are shown.
        auto rest = f.rest();
        if (!rest.empty() && rest[0] == rest.size() - 1) {
            rest = rest.subspan(1);
        }
        if (rest.empty()) {
            return;
        }
        if (std::any_of(rest.begin(), rest.end(),
                        [](std::uint8_t b) { return b < 0x20 || b == 0x7F; })) {
            line("bytes " + hexText(rest));
            return;
        }
        const std::string_view kindOfText =
            *kind == commentClass::defaultLibrary || *kind == commentClass::librarySpecifier
                ? "library "
            : *kind == commentClass::memoryModel ? "memory model "
                                                 : "text ";
        line(std::string(kindOfText) + printable(std::string(rest.begin(), rest.end())));
        return;
    }
    }
}

void ModuleReader::omfExtension(Fields& f)
{
    const auto subtype = f.u8();
    if (!subtype) {
        cut(f, "the extension's subtype");
        return;
    }
    switch (*subtype) {
    case extension::impdef: {
        const auto byOrdinal = f.u8();
        auto internal = byOrdinal ? f.name() : std::nullopt;
        auto module = internal ? f.name() : std::nullopt;
        if (!module) {
            cut(f, "the IMPDEF names");
            return;
        }
        Import import{std::move(*internal), std::move(*module), {}, std::nullopt};
        std::string entry;
        if (*byOrdinal != 0) {
            import.ordinal = f.u16();
            if (!import.ordinal) {
                cut(f, "the IMPDEF ordinal");
                return;
            }
            entry = "ordinal " + std::to_string(*import.ordinal);
        } else {
            auto name = f.name();
            if (!name) {
                cut(f, "the IMPDEF entry name");
                return;
            }
            import.entryName = std::move(*name);
            entry = "entry " + (import.entryName.empty() ? std::string("(the same name)")
                                                         : shownName(import.entryName));
        }
        line("IMPDEF " + shownName(import.internalName) + "  module " + shownName(import.module) +
             "  " + entry);
        summary_.publics.push_back({import.internalName, "import " + shownName(import.module)});
        summary_.imports.push_back(std::move(import));
        leftOver(f);
        return;
    }
    case extension::expdef: {
        const auto flags = f.u8();
        const auto exported = flags ? f.name() : std::nullopt;
        const auto internal = exported ? f.name() : std::nullopt;
        if (!internal) {
            cut(f, "the EXPDEF names");
            return;
        }
        std::string text =
            "EXPDEF " + shownName(*exported) + "  internal " +
            (internal->empty() ? std::string("(the same name)") : shownName(*internal));
        if ((*flags & exportByOrdinal) != 0) {
            const auto ordinal = f.u16();
            if (!ordinal) {
                cut(f, "the EXPDEF ordinal");
                return;
            }
            text += "  ordinal " + std::to_string(*ordinal);
        }
        if ((*flags & exportResident) != 0) {
            text += "  resident";
        }
        if ((*flags & exportNoData) != 0) {
            text += "  no data";
        }
        text += "  parameters " + std::to_string(*flags & exportParameterMask);
        line(text);
        leftOver(f);
        return;
    }
    case extension::incdef: {
        const auto externalDelta = f.u16();
        const auto lineDelta = f.u16();
        if (!externalDelta || !lineDelta) {
            cut(f, "the INCDEF deltas");
            return;
        }
        line("INCDEF EXTDEF delta " + std::to_string(static_cast<std::int16_t>(*externalDelta)) +
             "  LINNUM delta " + std::to_string(static_cast<std::int16_t>(*lineDelta)));
        return; // padding may follow
    }
    case extension::protectedMemoryLibrary:
        line("protected-memory library");
        leftOver(f);
        return;
    case extension::lnkdir: {
        const auto flags = f.u8();
        const auto pcode = f.u8();
        const auto codeView = f.u8();
        if (!flags || !pcode || !codeView) {
            cut(f, "the LNKDIR fields");
            return;
        }
        std::string text = "LNKDIR flags " + toHex(*flags, 2);
        for (const auto& [bit, name] : {std::pair<unsigned, std::string_view>{1, "new executable"},
                                        {2, "omit CodeView publics"},
                                        {4, "run MPC"}}) {
            if ((*flags & bit) != 0) {
                text += ", ";
                text += name;
            }
        }
        line(text + "  pseudocode version " + std::to_string(*pcode) + "  CodeView version " +
             std::to_string(*codeView));
        leftOver(f);
        return;
    }
    default: {
        line("subtype " + toHex(*subtype, 2) + " (unknown)");
        hexLines(f.rest(), 0);
        return;
    }
    }
}

std::string ModuleReader::frameText(std::uint8_t method, std::uint16_t datum) const
{
    std::string text = "F" + std::to_string(method) + " ";
    switch (method) {
    case 0:
        return text + "segment " + segmentRef(datum);
    case 1:
        return text + "group " + groupRef(datum);
    case 2:
        return text + "external " + externalRef(datum);
    case methodFrameNumber:
        return text + "frame number";
    case 4:
        return text + "location";
    case 5:
        return text + "target";
    case 6:
        return text + "none";
    default:
        break;
    }
    return text + "(invalid)";
}

std::string ModuleReader::targetText(std::uint8_t method, std::uint16_t datum) const
{
    std::string text = "T" + std::to_string(method) + " ";
    switch (method & 3u) {
    case 0:
        return text + "segment " + segmentRef(datum);
    case 1:
        return text + "group " + groupRef(datum);
    case 2:
        return text + "external " + externalRef(datum);
    default:
        break;
    }
    return text + "frame " + toHex(datum, 4);
}

// The frame and target of a fixup, or of the start address, from the fix
// data byte on: by thread or explicit, and the displacement.
std::optional<std::string> ModuleReader::fixupReference(Fields& f, std::uint8_t fixData)
{
    std::string text = "frame ";
    if ((fixData & fixFrameThread) != 0) {
        const unsigned number = (fixData >> fixFrameShift) & threadNumberMask;
        const Thread& thread = frameThreads_[number];
        text += "thread " + std::to_string(number) + " ";
        text += thread.set ? frameText(thread.method, thread.datum)
                           : std::string("** not defined by a THREAD subrecord");
    } else {
        const auto method = static_cast<std::uint8_t>((fixData >> fixFrameShift) & fixFrameMask);
        std::optional<std::uint16_t> datum = 0;
        if (method < methodsWithIndex) {
            datum = f.index();
        }
        if (!datum) {
            cut(f, "the frame datum");
            return std::nullopt;
        }
        text += frameText(method, *datum);
    }
    text += "  target ";
    const bool noDisplacement = (fixData & fixNoDisplacement) != 0;
    const auto high = static_cast<std::uint8_t>(noDisplacement ? 4 : 0);
    if ((fixData & fixTargetThread) != 0) {
        const unsigned number = fixData & threadNumberMask;
        const Thread& thread = targetThreads_[number];
        text += "thread " + std::to_string(number) + " ";
        text += thread.set ? targetText(static_cast<std::uint8_t>((thread.method & 3u) | high),
                                        thread.datum)
                           : std::string("** not defined by a THREAD subrecord");
    } else {
        const auto method = static_cast<std::uint8_t>((fixData & fixTargetMask) | high);
        const auto datum = (method & 3u) == methodFrameNumber ? f.u16() : f.index();
        if (!datum) {
            cut(f, "the target datum");
            return std::nullopt;
        }
        text += targetText(method, *datum);
    }
    if (!noDisplacement) {
        const auto displacement = f.word();
        if (!displacement) {
            cut(f, "the target displacement");
            return std::nullopt;
        }
        text += " + 0x" + toHex(*displacement);
    }
    return text;
}

void ModuleReader::moduleEnd(Fields& f)
{
    const auto kind = f.u8();
    if (!kind) {
        cut(f, "the module type");
        return;
    }
    std::string text = (*kind & moduleMain) != 0 ? "main module" : "not a main module";
    if ((*kind & moduleStart) == 0) {
        line(text + ", no start address");
        leftOver(f);
        return;
    }
    if ((*kind & moduleLogicalStart) != 0) {
        const auto fixData = f.u8();
        const auto start = fixData ? fixupReference(f, *fixData) : std::nullopt;
        if (!fixData) {
            cut(f, "the start address");
        }
        if (!start) {
            return;
        }
        line(text + ", start address: " + *start);
    } else {
        const auto frame = f.u16();
        const auto offset = frame ? f.u16() : std::nullopt;
        if (!offset) {
            cut(f, "the physical start address");
            return;
        }
        line(text + ", start address " + toHex(*frame, 4) + ":" + toHex(*offset, 4) +
             " (physical)");
    }
    leftOver(f);
}

void ModuleReader::externals(Fields& f)
{
    while (!f.done()) {
        auto name = f.name();
        const auto typeIndex = name ? f.index() : std::nullopt;
        if (!typeIndex) {
            cut(f, "an external name and type");
            return;
        }
        std::string text = numbered(externals_.size() + 1) + symbol(*name);
        if (options_.verbose()) {
            text += "  type " + std::to_string(*typeIndex);
        }
        line(text);
        if (externals_.size() < maxDefinitions) {
            externals_.push_back(std::move(*name));
        }
    }
}

void ModuleReader::publics(Fields& f)
{
    const bool local = f.type() == type::lpubdef || f.type() == type::lpubdef32;
    const auto groupIndex = f.index();
    const auto segmentIndex = groupIndex ? f.index() : std::nullopt;
    if (!segmentIndex) {
        cut(f, "the base group and segment");
        return;
    }
    std::string base;
    if (*segmentIndex == 0) {
        const auto frame = f.u16();
        if (!frame) {
            cut(f, "the base frame");
            return;
        }
        base = "frame " + toHex(*frame, 4);
    } else {
        base = segmentRef(*segmentIndex);
    }
    line("base group " + groupRef(*groupIndex) +
         (*segmentIndex == 0 ? "  " + base + " (absolute)" : "  segment " + base));
    while (!f.done()) {
        const auto name = f.name();
        const auto offset = name ? f.word() : std::nullopt;
        const auto typeIndex = offset ? f.index() : std::nullopt;
        if (!typeIndex) {
            cut(f, "a public name, offset and type");
            return;
        }
        std::string text = toHex(*offset, 8) + "  " + symbol(*name);
        if (options_.verbose()) {
            text += "  type " + std::to_string(*typeIndex);
        }
        line(text);
        if (!local) {
            summary_.publics.push_back({*name, base + ":" + toHex(*offset, 8)});
        }
    }
}

void ModuleReader::lineNumbers(Fields& f)
{
    const auto groupIndex = f.index();
    const auto segmentIndex = groupIndex ? f.index() : std::nullopt;
    if (!segmentIndex) {
        cut(f, "the base group and segment");
        return;
    }
    line("base group " + groupRef(*groupIndex) + "  segment " + segmentRef(*segmentIndex));
    while (!f.done()) {
        const auto number = f.u16();
        const auto offset = number ? f.word() : std::nullopt;
        if (!offset) {
            cut(f, "a line number and offset");
            return;
        }
        line("line " + std::to_string(*number) + "  offset " + toHex(*offset, 8));
    }
}

void ModuleReader::names(Fields& f)
{
    while (!f.done()) {
        auto name = f.name();
        if (!name) {
            cut(f, "a name");
            return;
        }
        line(numbered(names_.size() + 1) + shownName(*name));
        if (names_.size() < maxDefinitions) {
            names_.push_back(std::move(*name));
        }
    }
}

void ModuleReader::segment(Fields& f)
{
    const auto attributes = f.u8();
    if (!attributes) {
        cut(f, "the segment attributes");
        return;
    }
    const unsigned align = *attributes >> segmentAlignShift;
    std::string absolute;
    if (align == alignAbsolute) {
        const auto frame = f.u16();
        const auto offset = frame ? f.u8() : std::nullopt;
        if (!offset) {
            cut(f, "the absolute frame and offset");
            return;
        }
        absolute = "  frame " + toHex(*frame, 4) + " offset " + toHex(*offset, 2);
    }
    const auto length = f.word();
    const auto name = length ? f.index() : std::nullopt;
    const auto className = name ? f.index() : std::nullopt;
    const auto overlay = className ? f.index() : std::nullopt;
    if (!overlay) {
        cut(f, "the segment length and names");
        return;
    }
    if (segments_.size() < maxDefinitions) {
        segments_.push_back({*name});
    }
    std::string text =
        numbered(segments_.size()) + nameRef(*name) + "  class " + nameRef(*className);
    const bool overlayNamed =
        *overlay > names_.size() || (*overlay != 0 && !names_[*overlay - 1u].empty());
    if (overlayNamed || options_.verbose()) {
        text += "  overlay " + nameRef(*overlay);
    }
    line(text);
    const bool big = (*attributes & segmentBig) != 0;
    text = "align " + std::string(alignmentName(align)) + "  combine " +
           std::string(combinationName((*attributes >> segmentCombineShift) & segmentCombineMask)) +
           ((*attributes & segmentUse32) != 0 ? "  use32" : "  use16") + "  length ";
    text += big ? (f.wide() ? "4 GiB (big)" : "64 KiB (big)") : "0x" + toHex(*length);
    text += absolute;
    if (options_.verbose()) {
        text += "  attributes " + toHex(*attributes, 2);
    }
    line(text);
    if (big && *length != 0) {
        damage("the big bit says the segment holds " + std::string(f.wide() ? "4 GiB" : "64 KiB") +
                   ", but the length field is 0x" + toHex(*length) + ", not 0",
               f.offset());
    }
    leftOver(f);
}

void ModuleReader::group(Fields& f)
{
    const auto name = f.index();
    if (!name) {
        cut(f, "the group name");
        return;
    }
    if (groups_.size() < maxDefinitions) {
        groups_.push_back(*name);
    }
    std::string text = numbered(groups_.size()) + nameRef(*name) + "  segments";
    if (f.done()) {
        text += " (none)";
    }
    while (!f.done()) {
        const std::uint8_t component = f.u8().value_or(0);
        if (component != groupSegmentComponent) {
            line(text);
            damage("the group component type " + toHex(component, 2) +
                       " is not a segment index (FF)",
                   f.offset() - 1);
            return;
        }
        const auto segmentIndex = f.index();
        if (!segmentIndex) {
            line(text);
            cut(f, "a segment index");
            return;
        }
        text += " " + segmentRef(*segmentIndex);
    }
    line(text);
}

void ModuleReader::fixups(Fields& f)
{
    while (!f.done()) {
        out_.budget().charge(entryCost);
        const std::uint8_t first = f.u8().value_or(0);
        if ((first & subrecordFixup) == 0) {
            const bool frame = (first & threadIsFrame) != 0;
            auto method =
                static_cast<std::uint8_t>((first >> threadMethodShift) & threadMethodMask);
            const unsigned number = first & threadNumberMask;
            // A target thread keeps two bits of its method: the fixup that
            // uses it gives the third.
            if (!frame) {
                method &= 3u;
            }
            std::optional<std::uint16_t> datum = 0;
            if (method < methodsWithIndex) {
                datum = f.index();
            } else if (!frame) {
                datum = f.u16();
            }
            if (!datum) {
                cut(f, "a thread's datum");
                return;
            }
            (frame ? frameThreads_ : targetThreads_)[number] = {true, method, *datum};
            line("thread " + std::string(frame ? "frame " : "target ") + std::to_string(number) +
                 " = " + (frame ? frameText(method, *datum) : targetText(method, *datum)));
            continue;
        }
        const auto second = f.u8();
        const auto fixData = second ? f.u8() : std::nullopt;
        if (!fixData) {
            cut(f, "a fixup's location and fix data");
            return;
        }
        const auto locat = static_cast<std::uint16_t>((first << 8) | *second);
        const std::uint16_t dataOffset = locat & fixupOffsetMask;
        const auto reference = fixupReference(f, *fixData);
        if (!reference) {
            return;
        }
        std::string text =
            "fixup " + toHex(dataOffset, 3) + "  " +
            locationName((first >> fixupLocationShift) & fixupLocationMask) + "  " +
            ((first & fixupSegmentRelative) != 0 ? "segment-relative" : "self-relative") + "  " +
            *reference;
        if (lastData_.set && lastData_.enumerated) {
            text += "  at " + segmentRef(lastData_.segment) + ":" +
                    toHex(std::uint64_t{lastData_.offset} + dataOffset, 8);
        }
        line(text);
        if (!lastData_.set) {
            damage("a fixup with no data record before it", f.offset());
        }
    }
}

void ModuleReader::enumeratedData(Fields& f)
{
    const auto segmentIndex = f.index();
    const auto offset = segmentIndex ? f.word() : std::nullopt;
    if (!offset) {
        cut(f, "the segment and offset");
        return;
    }
    const auto data = f.rest();
    line("segment " + segmentRef(*segmentIndex) + "  offset " + toHex(*offset, 8) + "  length " +
         std::to_string(data.size()));
    lastData_ = {true, true, *segmentIndex, *offset};
    if (options_.verbose()) {
        hexLines(data, *offset);
    }
}

// One block of iterated data: its repeat count and block count, then its
// nested blocks or its bytes. Returns the size it expands to (capped), or
// nullopt when it is cut short or nests too deep.
std::optional<std::uint64_t> ModuleReader::iteratedBlock(Fields& f, unsigned depth)
{
    if (depth == maxIteratedDepth) {
        damage("iterated data nested deeper than " + std::to_string(maxIteratedDepth) +
                   " levels: the rest of the record is not read",
               f.offset());
        return std::nullopt;
    }
    out_.budget().charge(entryCost);
    const auto repeat = f.word();
    const auto count = repeat ? f.u16() : std::nullopt;
    if (!count) {
        cut(f, "an iterated data block");
        return std::nullopt;
    }
    const std::string indent(std::size_t{2} * depth, ' ');
    if (*count == 0) {
        const auto length = f.u8();
        const auto content = length ? f.take(*length) : std::nullopt;
        if (!content) {
            cut(f, "an iterated data block's contents");
            return std::nullopt;
        }
        line(indent + "repeat " + std::to_string(*repeat) + ": " + std::to_string(*length) +
             " bytes " + hexText(*content));
        return multiplyCapped(*repeat, *length);
    }
    line(indent + "repeat " + std::to_string(*repeat) + ", " + std::to_string(*count) + " blocks:");
    std::uint64_t size = 0;
    for (unsigned i = 0; i < *count; ++i) {
        const auto block = iteratedBlock(f, depth + 1);
        if (!block) {
            return std::nullopt;
        }
        size = capped(size + *block);
    }
    return multiplyCapped(*repeat, size);
}

void ModuleReader::iteratedData(Fields& f)
{
    const auto segmentIndex = f.index();
    const auto offset = segmentIndex ? f.word() : std::nullopt;
    if (!offset) {
        cut(f, "the segment and offset");
        return;
    }
    line("segment " + segmentRef(*segmentIndex) + "  offset " + toHex(*offset, 8));
    lastData_ = {true, false, *segmentIndex, *offset};
    std::uint64_t size = 0;
    while (!f.done()) {
        const auto block = iteratedBlock(f, 0);
        if (!block) {
            return;
        }
        size = capped(size + *block);
    }
    if (size > maxExpandedSize) {
        damage("the iterated data expands to more than 4 GiB, more than a segment holds",
               f.offset());
        return;
    }
    line("expands to " + std::to_string(size) + " bytes");
}

void ModuleReader::communals(Fields& f)
{
    const bool local = f.type() == type::lcomdef;
    while (!f.done()) {
        auto name = f.name();
        const auto typeIndex = name ? f.index() : std::nullopt;
        const auto dataType = typeIndex ? f.u8() : std::nullopt;
        if (!dataType) {
            cut(f, "a communal name, type and data type");
            return;
        }
        std::optional<std::uint8_t> badPrefix;
        std::string size;
        if (*dataType == communalFar) {
            const auto elements = f.communalNumber(badPrefix);
            const auto elementSize = elements ? f.communalNumber(badPrefix) : std::nullopt;
            if (elementSize) {
                size = "far " + std::to_string(*elements) + " x " + std::to_string(*elementSize) +
                       " bytes";
            }
        } else if (*dataType == communalNear) {
            const auto length = f.communalNumber(badPrefix);
            if (length) {
                size = "near " + std::to_string(*length) + " bytes";
            }
        } else {
            damage("the communal data type " + toHex(*dataType, 2) +
                       " is neither near (62) nor far (61)",
                   f.offset() - 1);
            return;
        }
        if (badPrefix) {
            damage("a communal length starts with " + toHex(*badPrefix, 2) +
                       ", which announces no length (81, 84 or 88 do)",
                   f.offset() - 1);
            return;
        }
        if (size.empty()) {
            cut(f, "a communal length");
            return;
        }
        std::string text = numbered(externals_.size() + 1) + symbol(*name) + "  " + size;
        if (options_.verbose()) {
            text += "  type " + std::to_string(*typeIndex);
        }
        line(text);
        if (!local) {
            summary_.otherNames.push_back(*name);
        }
        if (externals_.size() < maxDefinitions) {
            externals_.push_back(std::move(*name));
        }
    }
}

void ModuleReader::backpatches(Fields& f)
{
    // NBKPAT names a COMDAT; BAKPAT, a segment.
    const bool named = f.type() == type::nbkpat || f.type() == type::nbkpat32;
    std::optional<std::uint16_t> target;
    std::optional<std::uint8_t> location;
    if (named) {
        location = f.u8();
        target = location ? f.index() : std::nullopt;
    } else {
        target = f.index();
        location = target ? f.u8() : std::nullopt;
    }
    if (!location || !target) {
        cut(f, "the back patch target and location type");
        return;
    }
    line((named ? "COMDAT " + nameRef(*target) : "segment " + segmentRef(*target)) + "  location " +
         std::string(backpatchLocationName(*location)));
    while (!f.done()) {
        const auto offset = f.word();
        const auto value = offset ? f.word() : std::nullopt;
        if (!value) {
            cut(f, "an offset and value");
            return;
        }
        line("offset " + toHex(*offset, 8) + "  value " + toHex(*value, 8));
    }
}

void ModuleReader::communalExternals(Fields& f)
{
    while (!f.done()) {
        const auto name = f.index();
        const auto typeIndex = name ? f.index() : std::nullopt;
        if (!typeIndex) {
            cut(f, "a name index and type");
            return;
        }
        const bool known = *name >= 1 && *name <= names_.size();
        std::string text =
            numbered(externals_.size() + 1) + (known ? symbol(names_[*name - 1u]) : nameRef(*name));
        if (options_.verbose()) {
            text += "  type " + std::to_string(*typeIndex);
        }
        line(text);
        if (externals_.size() < maxDefinitions) {
            externals_.push_back(known ? names_[*name - 1u] : std::string());
        }
    }
}

void ModuleReader::comdat(Fields& f)
{
    const auto flags = f.u8();
    const auto attributes = flags ? f.u8() : std::nullopt;
    const auto align = attributes ? f.u8() : std::nullopt;
    const auto offset = align ? f.word() : std::nullopt;
    const auto typeIndex = offset ? f.index() : std::nullopt;
    if (!typeIndex) {
        cut(f, "the COMDAT's flags, attributes, alignment, offset and type");
        return;
    }
    const unsigned allocation = *attributes & comdatAllocationMask;
    std::string base;
    if (allocation == allocationExplicit) {
        const auto groupIndex = f.index();
        const auto segmentIndex = groupIndex ? f.index() : std::nullopt;
        if (!segmentIndex) {
            cut(f, "the public base");
            return;
        }
        base = "  base group " + groupRef(*groupIndex);
        if (*segmentIndex == 0) {
            const auto frame = f.u16();
            if (!frame) {
                cut(f, "the base frame");
                return;
            }
            base += "  frame " + toHex(*frame, 4);
        } else {
            base += "  segment " + segmentRef(*segmentIndex);
        }
    }
    const auto nameIndex = f.index();
    if (!nameIndex) {
        cut(f, "the public name index");
        return;
    }
    const bool known = *nameIndex >= 1 && *nameIndex <= names_.size();
    std::string text = "name " + (known ? symbol(names_[*nameIndex - 1u]) : nameRef(*nameIndex));
    for (const auto& [bit, name] :
         {std::pair<std::uint8_t, std::string_view>{comdatContinuation, "continuation"},
          {comdatIterated, "iterated"},
          {comdatLocal, "local"},
          {comdatCodeSegment, "data in code segment"}}) {
        if ((*flags & bit) != 0) {
            text += "  ";
            text += name;
        }
    }
    line(text);
    line("selection " + selectionName(*attributes >> comdatSelectionShift) + "  allocation " +
         allocationName(allocation) + "  align " + comdatAlignName(*align));
    line("offset " + toHex(*offset, 8) +
         (options_.verbose() ? "  type " + std::to_string(*typeIndex) : std::string()) + base);
    if (known && (*flags & (comdatLocal | comdatContinuation)) == 0) {
        summary_.otherNames.push_back(names_[*nameIndex - 1u]);
    }
    // Fixups that follow apply to its data, which has no place in a segment yet.
    lastData_ = {true, false, 0, 0};
    if ((*flags & comdatIterated) != 0) {
        std::uint64_t size = 0;
        while (!f.done()) {
            const auto block = iteratedBlock(f, 0);
            if (!block) {
                return;
            }
            size = capped(size + *block);
        }
        if (size > maxExpandedSize) {
            damage("the iterated data expands to more than 4 GiB", f.offset());
            return;
        }
        line("expands to " + std::to_string(size) + " bytes");
        return;
    }
    const auto data = f.rest();
    line("data length " + std::to_string(data.size()));
    if (options_.verbose()) {
        hexLines(data, *offset);
    }
}

void ModuleReader::lineSymbols(Fields& f)
{
    const auto flags = f.u8();
    const auto name = flags ? f.index() : std::nullopt;
    if (!name) {
        cut(f, "the flags and the COMDAT name");
        return;
    }
    line("COMDAT " + nameRef(*name) + ((*flags & comdatContinuation) != 0 ? "  continuation" : ""));
    while (!f.done()) {
        const auto number = f.u16();
        const auto offset = number ? f.word() : std::nullopt;
        if (!offset) {
            cut(f, "a line number and offset");
            return;
        }
        line("line " + std::to_string(*number) + "  offset " + toHex(*offset, 8));
    }
}

void ModuleReader::aliases(Fields& f)
{
    while (!f.done()) {
        const auto alias = f.name();
        const auto substitute = alias ? f.name() : std::nullopt;
        if (!substitute) {
            cut(f, "an alias and its substitute");
            return;
        }
        line("alias " + symbol(*alias) + " -> " + symbol(*substitute));
        summary_.otherNames.push_back(*alias);
    }
}

void ModuleReader::version(Fields& f)
{
    const auto text = f.name();
    if (!text) {
        cut(f, "the version");
        return;
    }
    line("version " + shownName(*text));
    leftOver(f);
}

void ModuleReader::vendorExtension(Fields& f)
{
    const auto vendor = f.u16();
    if (!vendor) {
        cut(f, "the vendor number");
        return;
    }
    line("vendor " + std::to_string(*vendor));
    hexLines(f.rest(), 0);
}

void ModuleReader::bytes(Fields& f)
{
    hexLines(f.rest(), 0);
}

void ChecksumTally::take(Output& out, View view, const Record& record)
{
    ++records_;
    if (!record.checksum) {
        return; // cut short: reported where it is read
    }
    if (*record.checksum == 0) {
        ++without_;
        return;
    }
    const unsigned sum = std::accumulate(record.contents.begin(), record.contents.end(),
                                         record.type + (record.length & 0xFFu) +
                                             (record.length >> 8u) + *record.checksum) &
                         0xFFu;
    if (sum == 0) {
        ++verified_;
        return;
    }
    ++bad_;
    const std::string_view name = omfRecordName(record.type);
    report(out,
           std::string(name.empty() ? std::string_view("unknown") : name) + " record at " +
               toHex(view.base() + record.offset, 8) + ": checksum " + toHex(*record.checksum, 2) +
               " is wrong, the record's bytes add up to " + toHex(sum, 2) + " instead of 00 (" +
               toHex((*record.checksum - sum) & 0xFFu, 2) + " would be right)",
           view.base() + record.end() - 1);
}

void ChecksumTally::total(Output& out) const
{
    out << "  " << dec(records_) << " records: " << dec(verified_) << " checksums right, "
        << dec(bad_) << " wrong, " << dec(without_) << " without a checksum (0)\n";
}

void listRawRecord(Output& out, View view, const Record& record, const Options& options)
{
    listRecordLine(out, view, record, options);
    const std::uint64_t size =
        recordHeaderSize + record.contents.size() + (record.checksum ? 1 : 0);
    hexDisplay(view, record.offset, record.offset + size, out);
}

void listImports(Output& out, const std::vector<Import>& imports, const Options& options)
{
    std::size_t shown = 0;
    for (const Import& i : imports) {
        if (!matchesFilter(i.internalName, options.impdefFilter)) {
            continue;
        }
        ++shown;
        out << "  " << shownName(i.internalName) << "  " << shownName(i.module) << "  ";
        if (i.ordinal) {
            out << '@' << dec(*i.ordinal);
        } else {
            out << shownName(i.entryName.empty() ? i.internalName : i.entryName);
        }
        out << '\n';
    }
    if (shown == 0) {
        out << (options.impdefFilter.empty()
                    ? std::string("  (no IMPDEF records)\n")
                    : "  (no import matches \"" + printable(options.impdefFilter) + "\")\n");
    }
}

} // namespace omf
} // namespace tdump
