#include "ne/ne.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <utility>

#include "mz/mz.h"
#include "names.h"

namespace tdump {
namespace {

// The NE header's fields, relative to its "NE".
namespace field {
constexpr std::uint32_t linkerMajor = 0x02;
constexpr std::uint32_t linkerMinor = 0x03;
constexpr std::uint32_t entryTable = 0x04;
constexpr std::uint32_t entryTableLength = 0x06;
constexpr std::uint32_t crc = 0x08;
constexpr std::uint32_t flags = 0x0C;
constexpr std::uint32_t autoData = 0x0E;
constexpr std::uint32_t heap = 0x10;
constexpr std::uint32_t stack = 0x12;
constexpr std::uint32_t ip = 0x14;
constexpr std::uint32_t cs = 0x16;
constexpr std::uint32_t sp = 0x18;
constexpr std::uint32_t ss = 0x1A;
constexpr std::uint32_t segmentCount = 0x1C;
constexpr std::uint32_t moduleCount = 0x1E;
constexpr std::uint32_t nonResidentSize = 0x20;
constexpr std::uint32_t segmentTable = 0x22;
constexpr std::uint32_t resourceTable = 0x24;
constexpr std::uint32_t residentNames = 0x26;
constexpr std::uint32_t moduleTable = 0x28;
constexpr std::uint32_t importedNames = 0x2A;
constexpr std::uint32_t nonResidentNames = 0x2C; // from the start of the file, 32 bits
constexpr std::uint32_t movableEntries = 0x30;
constexpr std::uint32_t alignShift = 0x32;
constexpr std::uint32_t resourceSegments = 0x34;
constexpr std::uint32_t targetOs = 0x36;
constexpr std::uint32_t otherFlags = 0x37;
constexpr std::uint32_t fastLoadOffset = 0x38;
constexpr std::uint32_t fastLoadLength = 0x3A;
constexpr std::uint32_t minCodeSwap = 0x3C;
constexpr std::uint32_t windowsVersion = 0x3E;
constexpr std::uint32_t headerSize = 0x40;
} // namespace field

// The tables whose offsets the header gives relative to itself, in the order
// linkers write them; each ends where the next begins.
constexpr std::array<std::uint32_t, 6> relativeTables = {field::segmentTable,  field::resourceTable,
                                                         field::residentNames, field::moduleTable,
                                                         field::importedNames, field::entryTable};

constexpr std::uint64_t segmentEntrySize = 8;
constexpr std::uint64_t relocationSize = 8;
constexpr std::uint64_t resourceTypeHeaderSize = 8;
constexpr std::uint64_t resourceEntrySize = 12;
constexpr std::uint32_t fullSegment = 0x10000;
// A shift past this would put every offset beyond any 32-bit file.
constexpr std::uint16_t maxAlignShift = 24;

constexpr std::uint16_t flagDll = 0x8000;
constexpr std::uint16_t appTypeMask = 0x0300;
constexpr std::uint16_t segmentData = 0x0001;
constexpr std::uint16_t segmentMovable = 0x0010;
constexpr std::uint16_t segmentPreload = 0x0040;
constexpr std::uint16_t segmentReadOnly = 0x0080;
constexpr std::uint16_t segmentRelocations = 0x0100;
constexpr std::uint8_t entryExported = 0x01;
constexpr std::uint8_t entryUnused = 0x00;
constexpr std::uint8_t entryMovable = 0xFF;
constexpr std::uint8_t entryConstant = 0xFE;
constexpr std::uint64_t movableEntrySize = 6;
constexpr std::uint64_t fixedEntrySize = 3;
constexpr std::uint16_t integerId = 0x8000;
constexpr std::uint16_t idMask = 0x7FFF;
constexpr std::uint16_t chainEnd = 0xFFFF;
constexpr std::uint32_t maxOrdinal = 0xFFFF;

constexpr std::uint8_t targetMask = 0x03;
constexpr std::uint8_t targetInternal = 0;
constexpr std::uint8_t targetOrdinal = 1;
constexpr std::uint8_t targetName = 2;
constexpr std::uint8_t targetOsFixup = 3;
constexpr std::uint8_t relocationAdditive = 0x04;
constexpr std::uint8_t movableSegment = 0xFF;

constexpr Flag moduleFlags[] = {
    {0x0001, "SINGLEDATA"}, {0x0002, "MULTIPLEDATA"}, {0x0004, "GLOBALINIT"}, {0x0008, "PROTMODE"},
    {0x0010, "8086"},       {0x0020, "80286"},        {0x0040, "80386"},      {0x0080, "80x87"},
    {0x0800, "SELFLOAD"},   {0x2000, "LINKERRORS"},   {0x8000, "DLL"},
};

constexpr Flag otherFlagNames[] = {{0x01, "LONGNAMES"},
                                   {0x02, "WIN2-PROTMODE"},
                                   {0x04, "WIN2-PROPORTIONAL-FONTS"},
                                   {0x08, "FASTLOAD"}};

constexpr Flag segmentFlagNames[] = {
    {0x0002, "ALLOCATED"}, {0x0004, "LOADED"},    {0x0008, "ITERATED"},
    {0x0020, "SHARED"},    {0x0100, "RELOCINFO"}, {0x1000, "DISCARDABLE"},
};

constexpr Flag resourceFlagNames[] = {
    {0x0010, "MOVABLE"}, {0x0020, "PURE"}, {0x0040, "PRELOAD"}, {0x1000, "DISCARDABLE"}};

constexpr Flag entryFlagNames[] = {{0x01, "EXPORTED"}, {0x02, "SHARED-DATA"}};

std::string_view targetOsName(std::uint8_t os)
{
    switch (os) {
    case 0:
        return "unknown";
    case 1:
        return "OS/2";
    case 2:
        return "Windows";
    case 3:
        return "European MS-DOS 4.x";
    case 4:
        return "Windows 386";
    case 5:
        return "Borland Operating System Services";
    default:
        return "unknown target";
    }
}

std::string_view appTypeName(std::uint16_t flags)
{
    switch (flags & appTypeMask) {
    case 0x0100:
        return "not window-compatible";
    case 0x0200:
        return "window-compatible";
    case 0x0300:
        return "uses the window API";
    default:
        return "";
    }
}

std::string_view addressTypeName(std::uint8_t type)
{
    switch (type & 0x0F) {
    case 0:
        return "LOBYTE";
    case 2:
        return "SEGMENT";
    case 3:
        return "FAR_ADDR";
    case 5:
        return "OFFSET";
    case 11:
        return "FAR48";
    case 13:
        return "OFFSET32";
    default:
        return "unknown";
    }
}

// The floating point emulator's fixups: the loader patches the instruction
// either to call the emulator or to use the coprocessor.
std::string_view osFixupName(std::uint16_t kind)
{
    switch (kind) {
    case 1:
        return "FIARQQ/FJARQQ";
    case 2:
        return "FISRQQ/FJSRQQ";
    case 3:
        return "FICRQQ/FJCRQQ";
    case 4:
        return "FIERQQ";
    case 5:
        return "FIDRQQ";
    case 6:
        return "FIWRQQ";
    default:
        return "unknown";
    }
}

std::string segmentFlagText(std::uint16_t flags)
{
    std::string text = (flags & segmentData) != 0 ? "DATA" : "CODE";
    text += (flags & segmentMovable) != 0 ? " MOVABLE" : " FIXED";
    text += (flags & segmentPreload) != 0 ? " PRELOAD" : " LOADONCALL";
    if ((flags & segmentReadOnly) != 0) {
        text += (flags & segmentData) != 0 ? " READONLY" : " EXECUTEONLY";
    }
    const auto rest = static_cast<std::uint16_t>(
        flags & ~(segmentData | segmentMovable | segmentPreload | segmentReadOnly));
    if (rest != 0) {
        text += ' ' + flagNames(rest, segmentFlagNames);
    }
    return text;
}

void reportAll(Output& out, const std::vector<NeDamage>& damage)
{
    for (const NeDamage& d : damage) {
        report(out, d.what, d.offset);
    }
}

// "  Flags ....... 8001  SINGLEDATA DLL", without the names when none is set.
void flagsLine(Output& out, std::string_view name, Hex value, const std::string& names)
{
    label(out, name) << value;
    if (!names.empty()) {
        out << "  " << names;
    }
    out << '\n';
}

std::string ordinalText(std::uint16_t ordinal)
{
    std::string text(1, '@');
    return text += std::to_string(ordinal);
}

} // namespace

std::optional<NeImage> NeImage::open(View view)
{
    const auto offset = newHeaderWithSignature(view, "NE");
    if (!offset || !view.has(*offset, field::headerSize)) {
        return std::nullopt;
    }
    return NeImage(view, *offset);
}

std::uint8_t NeImage::u8(std::uint32_t at) const
{
    return view_.u8(std::uint64_t{ne_} + at).value_or(0);
}

std::uint16_t NeImage::u16(std::uint32_t at) const
{
    return view_.u16(std::uint64_t{ne_} + at).value_or(0);
}

std::uint64_t NeImage::table(std::uint32_t at) const
{
    return std::uint64_t{ne_} + u16(at);
}

std::uint64_t NeImage::tableEnd(std::uint64_t start) const
{
    std::uint64_t end = view_.size();
    for (const std::uint32_t at : relativeTables) {
        const std::uint64_t other = table(at);
        if (other > start && other < end) {
            end = other;
        }
    }
    return end;
}

bool NeImage::isDll() const
{
    return (u16(field::flags) & flagDll) != 0;
}

std::string NeImage::description() const
{
    std::string text = isDll() ? "NE image (DLL), " : "NE image (executable), ";
    const std::uint8_t os = u8(field::targetOs);
    text += os == 1 ? "OS/2 1.x" : os == 2 || os == 4 ? "16-bit Windows" : targetOsName(os);
    return text;
}

void NeImage::listHeader(Output& out) const
{
    heading(out, "NE header");
    label(out, "File offset") << "0x" << hex(view_.base() + ne_, 1) << '\n';
    label(out, "Linker version") << dec(u8(field::linkerMajor)) << '.'
                                 << dec(u8(field::linkerMinor)) << '\n';
    const std::uint16_t flags = u16(field::flags);
    std::string names = flagNames(flags & ~std::uint32_t{appTypeMask}, moduleFlags);
    if (const std::string_view app = appTypeName(flags); !app.empty()) {
        names += (names.empty() ? "" : ", ") + std::string(app);
    }
    flagsLine(out, "Flags", hex(flags, 4), names);
    label(out, "Target OS") << hex(u8(field::targetOs), 2) << "  "
                            << targetOsName(u8(field::targetOs)) << '\n';
    flagsLine(out, "Other flags", hex(u8(field::otherFlags), 2),
              flagNames(u8(field::otherFlags), otherFlagNames));
    const std::uint16_t version = u16(field::windowsVersion);
    label(out, "Expected Windows version")
        << dec(version >> 8) << '.' << dec(version & 0xFF) << '\n';
    const std::uint16_t autoData = u16(field::autoData);
    label(out, "Automatic data segment");
    if (autoData == 0) {
        out << "none\n";
    } else {
        out << dec(autoData) << '\n';
    }
    label(out, "Initial heap") << dec(u16(field::heap)) << " bytes\n";
    label(out, "Initial stack") << dec(u16(field::stack)) << " bytes\n";
    label(out, "Entry point (CS:IP)")
        << hex(u16(field::cs), 4) << ':' << hex(u16(field::ip), 4) << '\n';
    label(out, "Stack (SS:SP)") << hex(u16(field::ss), 4) << ':' << hex(u16(field::sp), 4) << '\n';
    label(out, "CRC") << hex(view_.u32(std::uint64_t{ne_} + field::crc).value_or(0)) << '\n';
    const std::uint16_t shift = u16(field::alignShift);
    label(out, "Alignment shift") << dec(shift);
    if (shift <= maxAlignShift) {
        out << " (" << dec(std::uint64_t{1} << shift) << "-byte sectors)";
    }
    out << '\n';
    if (shift > maxAlignShift) {
        report(out, "the alignment shift is too large for any file: no segment data is read",
               view_.base() + ne_ + field::alignShift);
    }
    label(out, "Segments") << dec(u16(field::segmentCount)) << '\n';
    label(out, "Resource segments") << dec(u16(field::resourceSegments)) << '\n';
    label(out, "Module references") << dec(u16(field::moduleCount)) << '\n';
    label(out, "Movable entries") << dec(u16(field::movableEntries)) << '\n';
    label(out, "Minimum code swap area") << dec(u16(field::minCodeSwap)) << " bytes\n";
    label(out, "Fast-load area") << "sector " << hex(u16(field::fastLoadOffset), 4) << ", "
                                 << dec(u16(field::fastLoadLength)) << " sectors\n";
    static constexpr std::pair<std::string_view, std::uint32_t> tables[] = {
        {"Segment table", field::segmentTable},   {"Resource table", field::resourceTable},
        {"Resident names", field::residentNames}, {"Module references table", field::moduleTable},
        {"Imported names", field::importedNames}, {"Entry table", field::entryTable},
    };
    for (const auto& [name, at] : tables) {
        label(out, name) << "file offset 0x" << hex(view_.base() + table(at), 1);
        if (at == field::entryTable) {
            out << ", " << dec(u16(field::entryTableLength)) << " bytes";
        }
        out << '\n';
    }
    label(out, "Non-resident names")
        << "file offset 0x"
        << hex(view_.u32(std::uint64_t{ne_} + field::nonResidentNames).value_or(0), 1) << ", "
        << dec(u16(field::nonResidentSize)) << " bytes\n";
}

void NeImage::listTables(Output& out, const Options& options) const
{
    if (options.exeTable(tableHeaders)) {
        listHeader(out);
    }
    if (options.exeTable(tableSections)) {
        listSegments(out);
    }
    if (options.exeTable(tableFixups) && !options.has(Switch::NoRelocs)) {
        listRelocations(out);
    }
    if (options.exeTable(tableResources)) {
        listResources(out);
    }
    if (options.exeTable(tableImports)) {
        listNames(out);
    }
    if (options.exeTable(tableExports)) {
        listEntries(out);
    }
}

std::vector<NeSegment> NeImage::segments(std::vector<NeDamage>& damage) const
{
    std::vector<NeSegment> result;
    const std::uint64_t start = table(field::segmentTable);
    const std::uint16_t count = u16(field::segmentCount);
    const std::uint16_t shift = u16(field::alignShift);
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::uint64_t at = start + i * segmentEntrySize;
        if (!view_.has(at, segmentEntrySize)) {
            damage.push_back({"the segment table runs past the end of the file after " +
                                  std::to_string(i) + " of " + std::to_string(count) + " segments",
                              view_.base() + at});
            break;
        }
        NeSegment segment;
        const std::uint16_t sector = view_.u16(at).value_or(0);
        const std::uint16_t length = view_.u16(at + 2).value_or(0);
        segment.flags = view_.u16(at + 4).value_or(0);
        const std::uint16_t minAlloc = view_.u16(at + 6).value_or(0);
        if (sector != 0 && shift <= maxAlignShift) {
            segment.fileOffset = std::uint64_t{sector} << shift;
            segment.length = length == 0 ? fullSegment : length;
        }
        segment.minAlloc = minAlloc == 0 ? fullSegment : minAlloc;
        result.push_back(segment);
    }
    return result;
}

void NeImage::listSegments(Output& out) const
{
    heading(out, "Segments");
    std::vector<NeDamage> damage;
    const std::vector<NeSegment> all = segments(damage);
    if (all.empty() && damage.empty()) {
        out << "  none\n";
        return;
    }
    out << "    #  File offset  Length  Min alloc  Flags\n";
    for (std::size_t i = 0; i < all.size(); ++i) {
        const NeSegment& s = all[i];
        out << "  " << dec(i + 1, 3) << "  ";
        if (s.fileOffset == 0) {
            out << "(none)       ";
        } else {
            out << hex(view_.base() + s.fileOffset, 8) << "     ";
        }
        out << hex(s.length, 5) << "   " << hex(s.minAlloc, 5) << "      " << hex(s.flags, 4)
            << "  " << segmentFlagText(s.flags) << '\n';
        if (s.fileOffset != 0 && !view_.has(s.fileOffset, s.length)) {
            report(out, "the segment's data runs past the end of the file",
                   view_.base() + s.fileOffset);
        }
    }
    reportAll(out, damage);
}

std::vector<NeRelocation> NeImage::relocations(const NeSegment& segment, WorkBudget& budget,
                                               std::vector<NeDamage>& damage) const
{
    std::vector<NeRelocation> result;
    if (segment.fileOffset == 0 || (segment.flags & segmentRelocations) == 0) {
        return result;
    }
    const std::uint64_t countAt = segment.fileOffset + segment.length;
    const auto count = view_.u16(countAt);
    if (!count) {
        damage.push_back({"the relocation count after the segment's data lies past the end of "
                          "the file",
                          view_.base() + countAt});
        return result;
    }
    for (std::uint16_t i = 0; i < *count; ++i) {
        const std::uint64_t at = countAt + 2 + i * relocationSize;
        if (!view_.has(at, relocationSize)) {
            damage.push_back({"the relocation records run past the end of the file after " +
                                  std::to_string(i) + " of " + std::to_string(*count),
                              view_.base() + at});
            break;
        }
        budget.charge(entryCost);
        if (budget.exhausted()) {
            break;
        }
        NeRelocation r;
        r.fileOffset = at;
        r.addressType = view_.u8(at).value_or(0);
        r.flags = view_.u8(at + 1).value_or(0);
        r.offset = view_.u16(at + 2).value_or(0);
        r.target1 = view_.u16(at + 4).value_or(0);
        r.target2 = view_.u16(at + 6).value_or(0);
        result.push_back(r);
    }
    return result;
}

std::vector<std::uint16_t> NeImage::chain(const NeSegment& segment, const NeRelocation& relocation,
                                          WorkBudget& budget, std::vector<NeDamage>& damage) const
{
    std::vector<std::uint16_t> places{relocation.offset};
    // An additive record patches one place, and so does a floating point
    // fixup: its place holds an instruction, not a link.
    if ((relocation.flags & relocationAdditive) != 0 ||
        (relocation.flags & targetMask) == targetOsFixup) {
        return places;
    }
    // Each place holds the offset of the next, up to 0xFFFF; a place outside
    // the segment's data, or one seen before, ends the walk.
    std::vector<bool> seen(fullSegment);
    std::uint16_t at = relocation.offset;
    while (!budget.exhausted()) {
        budget.charge(entryCost);
        seen[at] = true;
        if (std::uint32_t{at} + 2 > segment.length) {
            damage.push_back(
                {"the chain reaches offset 0x" + toHex(at, 4) + ", outside the segment's data",
                 view_.base() + relocation.fileOffset});
            places.pop_back();
            break;
        }
        const auto next = view_.u16(segment.fileOffset + at);
        if (!next) {
            damage.push_back(
                {"the chain runs past the end of the file", view_.base() + relocation.fileOffset});
            break;
        }
        if (*next == chainEnd) {
            break;
        }
        if (seen[*next]) {
            damage.push_back(
                {"the chain returns to offset 0x" + toHex(*next, 4) + ": it ends there",
                 view_.base() + relocation.fileOffset});
            break;
        }
        at = *next;
        places.push_back(at);
    }
    return places;
}

std::optional<std::string> NeImage::importedName(std::uint16_t offset) const
{
    const std::uint64_t at = table(field::importedNames) + offset;
    const auto length = view_.u8(at);
    if (!length) {
        return std::nullopt;
    }
    std::string text(*length, '\0');
    if (!view_.read(at + 1, std::span(reinterpret_cast<std::uint8_t*>(text.data()), text.size()))) {
        return std::nullopt;
    }
    return text;
}

std::vector<std::string> NeImage::moduleNames(std::vector<NeDamage>& damage) const
{
    std::vector<std::string> result;
    const std::uint64_t start = table(field::moduleTable);
    const std::uint16_t count = u16(field::moduleCount);
    for (std::uint16_t i = 0; i < count; ++i) {
        const auto offset = view_.u16(start + std::uint64_t{i} * 2);
        if (!offset) {
            damage.push_back({"the module reference table runs past the end of the file after " +
                                  std::to_string(i) + " of " + std::to_string(count) + " modules",
                              view_.base() + start + std::uint64_t{i} * 2});
            break;
        }
        if (auto name = importedName(*offset)) {
            result.push_back(std::move(*name));
        } else {
            damage.push_back({"module " + std::to_string(i + 1) + "'s name at offset 0x" +
                                  toHex(*offset) +
                                  " of the imported names runs past the end of the file",
                              view_.base() + start + std::uint64_t{i} * 2});
            result.emplace_back("?");
        }
    }
    return result;
}

NeNameTable NeImage::nameTable(std::uint64_t start, std::uint64_t end, std::string_view what) const
{
    NeNameTable table;
    std::uint64_t at = start;
    while (true) {
        const auto length = view_.u8(at);
        if (!length || at >= end) {
            table.damage.push_back({std::string(what) + " has no end: it runs to the end of " +
                                        (end >= view_.size() ? "the file" : "its space"),
                                    view_.base() + at});
            break;
        }
        if (*length == 0) {
            break;
        }
        NeName name;
        name.text.resize(*length);
        const auto ordinal = view_.u16(at + 1 + *length);
        if (at + 1 + *length + 2 > end || !ordinal ||
            !view_.read(at + 1,
                        std::span(reinterpret_cast<std::uint8_t*>(name.text.data()), *length))) {
            table.damage.push_back({std::string(what) + ": a name runs past the end of " +
                                        (end >= view_.size() ? "the file" : "its space"),
                                    view_.base() + at});
            break;
        }
        name.ordinal = *ordinal;
        table.names.push_back(std::move(name));
        at += std::uint64_t{*length} + 3;
    }
    return table;
}

NeNameTable NeImage::residentNames() const
{
    const std::uint64_t start = table(field::residentNames);
    return nameTable(start, tableEnd(start), "the resident name table");
}

NeNameTable NeImage::nonResidentNames() const
{
    const std::uint16_t size = u16(field::nonResidentSize);
    if (size == 0) {
        return {};
    }
    const std::uint64_t start = view_.u32(std::uint64_t{ne_} + field::nonResidentNames).value_or(0);
    return nameTable(start, std::min<std::uint64_t>(start + size, view_.size()),
                     "the non-resident name table");
}

NeEntryTable NeImage::entryTable() const
{
    NeEntryTable result;
    const std::uint64_t start = table(field::entryTable);
    const std::uint64_t end =
        std::min<std::uint64_t>(start + u16(field::entryTableLength), view_.size());
    std::uint64_t at = start;
    std::uint32_t ordinal = 1; // ordinals are 16-bit; the bundles must not number more
    const auto endless = [&] {
        result.damage.push_back(
            {"the entry table has no end: its last bundle runs past the " +
                 std::string(end >= view_.size() ? "end of the file" : "table's length"),
             view_.base() + at});
    };
    // A table of length 0 holds no bundle, not even the end mark.
    while (at < end) {
        const auto count = view_.u8(at);
        if (!count || *count == 0) {
            return result;
        }
        const auto indicator = view_.u8(at + 1);
        if (!indicator || at + 2 > end) {
            endless();
            return result;
        }
        if (ordinal + *count - 1U > maxOrdinal) {
            result.damage.push_back(
                {"the entry table's bundles number more than 65535 entries", view_.base() + at});
            return result;
        }
        result.bundles.push_back({at, *count, *indicator, static_cast<std::uint16_t>(ordinal)});
        at += 2;
        if (*indicator == entryUnused) {
            ordinal += *count;
            continue;
        }
        const std::uint64_t size = *indicator == entryMovable ? movableEntrySize : fixedEntrySize;
        for (std::uint8_t i = 0; i < *count; ++i, ++ordinal, at += size) {
            if (at + size > end) {
                endless();
                return result;
            }
            NeEntry entry;
            entry.ordinal = static_cast<std::uint16_t>(ordinal);
            entry.flags = view_.u8(at).value_or(0);
            if (*indicator == entryMovable) {
                entry.kind = NeEntryKind::Movable;
                entry.segment = view_.u8(at + 3).value_or(0);
                entry.offset = view_.u16(at + 4).value_or(0);
            } else {
                entry.kind =
                    *indicator == entryConstant ? NeEntryKind::Constant : NeEntryKind::Fixed;
                entry.segment = *indicator;
                entry.offset = view_.u16(at + 1).value_or(0);
            }
            result.entries.push_back(entry);
        }
    }
    if (start + u16(field::entryTableLength) > view_.size() || at > start) {
        endless();
    }
    return result;
}

std::string NeImage::targetText(const NeRelocation& r, const std::vector<std::string>& modules,
                                const NeEntryTable& entries) const
{
    const auto module = [&](std::uint16_t index) {
        return index >= 1 && index <= modules.size() ? modules[index - 1]
                                                     : "module#" + std::to_string(index);
    };
    switch (r.flags & targetMask) {
    case targetInternal: {
        const auto segment = static_cast<std::uint8_t>(r.target1 & 0xFF);
        if (segment != movableSegment) {
            return toHex(segment, 4) + ':' + toHex(r.target2, 4);
        }
        // The entries are in ordinal order, as the bundles number them.
        const auto entry = std::lower_bound(
            entries.entries.begin(), entries.entries.end(), r.target2,
            [](const NeEntry& e, std::uint16_t ordinal) { return e.ordinal < ordinal; });
        std::string text = "entry " + std::to_string(r.target2);
        if (entry == entries.entries.end() || entry->ordinal != r.target2) {
            return text + " (not in the entry table)";
        }
        return text + " (" + toHex(entry->segment, 4) + ':' + toHex(entry->offset, 4) + ')';
    }
    case targetOrdinal:
        return module(r.target1) + '.' + std::to_string(r.target2);
    case targetName: {
        const auto name = importedName(r.target2);
        return module(r.target1) + '.' +
               (name ? printable(*name) : "(name at 0x" + toHex(r.target2) + " outside the file)");
    }
    default:
        return "OS fixup " + std::to_string(r.target1) + " (floating point " +
               std::string(osFixupName(r.target1)) + ')';
    }
}

void NeImage::listRelocations(Output& out) const
{
    heading(out, "Relocations");
    std::vector<NeDamage> damage;
    const std::vector<NeSegment> all = segments(damage);
    std::vector<NeDamage> ignored;
    const std::vector<std::string> modules = moduleNames(ignored);
    const NeEntryTable entries = entryTable();
    bool any = false;
    for (std::size_t i = 0; i < all.size() && !out.budget().exhausted(); ++i) {
        std::vector<NeDamage> found;
        const std::vector<NeRelocation> records = relocations(all[i], out.budget(), found);
        if (records.empty() && found.empty()) {
            continue;
        }
        any = true;
        out << "  Segment " << dec(i + 1) << ": " << dec(records.size()) << " records\n";
        reportAll(out, found);
        for (const NeRelocation& r : records) {
            std::vector<NeDamage> chainDamage;
            const std::vector<std::uint16_t> places = chain(all[i], r, out.budget(), chainDamage);
            out << "    " << column(addressTypeName(r.addressType), 9) << ' ';
            for (std::size_t p = 0; p < places.size(); ++p) {
                out << (p == 0 ? "" : ",") << hex(places[p], 4);
            }
            if (places.empty()) {
                out << hex(r.offset, 4);
            }
            out << "  " << targetText(r, modules, entries);
            if ((r.flags & relocationAdditive) != 0) {
                out << "  ADDITIVE";
            }
            out << '\n';
            reportAll(out, chainDamage);
            if (out.budget().exhausted()) {
                break;
            }
        }
    }
    if (!any) {
        out << "  none\n";
    }
    reportAll(out, damage);
}

void NeImage::listResources(Output& out) const
{
    heading(out, "Resources");
    const std::uint64_t start = table(field::resourceTable);
    if (start == table(field::residentNames)) {
        out << "  none\n";
        return;
    }
    const std::uint64_t end = tableEnd(start);
    const auto shift = view_.u16(start);
    if (!shift || start + 2 > end) {
        report(out, "the resource table lies past the end of the file", view_.base() + start);
        return;
    }
    label(out, "Alignment shift") << dec(*shift) << '\n';
    if (*shift > maxAlignShift) {
        report(out,
               "the alignment shift is too large for any file: offsets and lengths are shifted "
               "by " +
                   std::to_string(maxAlignShift),
               view_.base() + start);
    }
    const auto name = [&](std::uint16_t id) {
        if ((id & integerId) != 0) {
            return std::to_string(id & idMask);
        }
        const auto length = view_.u8(start + id);
        std::string text(length.value_or(0), '\0');
        if (!length || start + id + 1 + *length > end ||
            !view_.read(start + id + 1,
                        std::span(reinterpret_cast<std::uint8_t*>(text.data()), text.size()))) {
            return "(name at 0x" + toHex(id) + " outside the table)";
        }
        return '"' + printable(text) + '"';
    };
    std::uint64_t at = start + 2;
    while (!out.budget().exhausted()) {
        const auto type = view_.u16(at);
        if (!type || at + 2 > end) {
            report(out, "the resource table has no end", view_.base() + at);
            return;
        }
        if (*type == 0) {
            return;
        }
        const auto count = view_.u16(at + 2);
        if (!count || at + resourceTypeHeaderSize > end) {
            report(out, "a resource type's header runs past the end of the table",
                   view_.base() + at);
            return;
        }
        out << "\n  Type " << name(*type);
        if ((*type & integerId) != 0) {
            const unsigned id = *type & idMask;
            if (const std::string_view known = resourceTypeName(id); !known.empty()) {
                out << " (" << known << ')';
            }
        }
        out << ", " << dec(*count) << " resources\n";
        at += resourceTypeHeaderSize;
        if (at + std::uint64_t{*count} * resourceEntrySize > end) {
            report(out,
                   "the type's " + std::to_string(*count) + " resources run past the end of the " +
                       (end >= view_.size() ? "file" : "table"),
                   view_.base() + at - resourceTypeHeaderSize + 2);
            return;
        }
        out << "    Name/ID               File offset  Length    Flags\n";
        for (std::uint16_t i = 0; i < *count; ++i, at += resourceEntrySize) {
            const std::uint64_t offset = std::uint64_t{view_.u16(at).value_or(0)}
                                         << std::min<std::uint16_t>(*shift, maxAlignShift);
            const std::uint64_t length = std::uint64_t{view_.u16(at + 2).value_or(0)}
                                         << std::min<std::uint16_t>(*shift, maxAlignShift);
            const std::uint16_t flags = view_.u16(at + 4).value_or(0);
            out << "    " << column(name(view_.u16(at + 6).value_or(0)), 20) << "  "
                << hex(view_.base() + offset, 8) << "     " << hex(length, 8) << "  "
                << hex(flags, 4);
            if (flags != 0) {
                out << "  " << flagNames(flags, resourceFlagNames);
            }
            out << '\n';
            if (!view_.has(offset, length)) {
                report(out, "the resource's data runs past the end of the file", view_.base() + at);
            }
        }
    }
}

void NeImage::listNames(Output& out) const
{
    const auto names = [&](std::string_view title, std::string_view first, const NeNameTable& t) {
        heading(out, title);
        for (std::size_t i = 0; i < t.names.size(); ++i) {
            const NeName& n = t.names[i];
            if (i == 0) {
                out << "  " << first << ": " << printable(n.text) << '\n';
                continue;
            }
            out << "  " << dec(n.ordinal, 5) << "  " << printable(n.text) << '\n';
        }
        reportAll(out, t.damage);
    };
    names("Resident names", "Module name", residentNames());
    names("Non-resident names", "Description", nonResidentNames());
    heading(out, "Module references");
    std::vector<NeDamage> damage;
    const std::vector<std::string> modules = moduleNames(damage);
    for (std::size_t i = 0; i < modules.size(); ++i) {
        out << "  " << dec(i + 1, 3) << "  " << printable(modules[i]) << '\n';
    }
    if (modules.empty() && damage.empty()) {
        out << "  none\n";
    }
    reportAll(out, damage);
    heading(out, "Imported names");
    // The table has no length of its own: linkers put the entry table
    // right after it, and a module without imports gives both one offset.
    const std::uint64_t start = table(field::importedNames);
    const std::uint64_t end = std::max(start, table(field::entryTable));
    if (end == start) {
        out << "  none\n";
    }
    for (std::uint64_t at = start; at < end && !out.budget().exhausted();) {
        const auto name = importedName(static_cast<std::uint16_t>(at - start));
        if (!name || at + 1 + name->size() > end) {
            report(out, "an imported name runs past the end of its table", view_.base() + at);
            break;
        }
        if (!name->empty()) {
            out << "  " << hex(at - start, 4) << "  " << printable(*name) << '\n';
        }
        at += 1 + name->size();
        if (at - start > 0xFFFF) {
            break;
        }
    }
}

void NeImage::listEntries(Output& out) const
{
    heading(out, "Entry table");
    const NeEntryTable table = entryTable();
    auto entry = table.entries.begin();
    for (const NeBundle& bundle : table.bundles) {
        out << "  Bundle at 0x" << hex(view_.base() + bundle.fileOffset, 1) << ": "
            << dec(bundle.count) << ' ';
        switch (bundle.indicator) {
        case entryUnused:
            out << "unused ordinals (" << dec(bundle.firstOrdinal) << '-'
                << dec(std::uint64_t{bundle.firstOrdinal} + bundle.count - 1) << ")\n";
            continue;
        case entryMovable:
            out << "MOVABLE entries\n";
            break;
        case entryConstant:
            out << "CONST entries\n";
            break;
        default:
            out << "FIXED entries in segment " << dec(bundle.indicator) << '\n';
            break;
        }
        for (; entry != table.entries.end() && entry->ordinal < bundle.firstOrdinal + bundle.count;
             ++entry) {
            out << "    " << dec(entry->ordinal, 5) << "  ";
            switch (entry->kind) {
            case NeEntryKind::Fixed:
                out << "FIXED    " << hex(entry->segment, 4) << ':' << hex(entry->offset, 4);
                break;
            case NeEntryKind::Movable:
                out << "MOVABLE  " << hex(entry->segment, 4) << ':' << hex(entry->offset, 4);
                break;
            case NeEntryKind::Constant:
                out << "CONST    " << hex(entry->offset, 4) << "     ";
                break;
            }
            out << "  " << hex(entry->flags, 2);
            if (const auto flags = static_cast<std::uint8_t>(entry->flags & 0x03); flags != 0) {
                out << ' ' << flagNames(flags, entryFlagNames);
            }
            if (const unsigned words = entry->flags >> 3; words != 0) {
                out << ", " << dec(words) << " parameter words";
            }
            out << '\n';
        }
    }
    if (table.bundles.empty() && table.damage.empty()) {
        out << "  none\n";
    }
    reportAll(out, table.damage);
}

void NeImage::listExports(Output& out, std::string_view filter) const
{
    heading(out, "Exports");
    const NeEntryTable table = entryTable();
    std::map<std::uint16_t, std::string> named;
    for (const NeNameTable& names : {residentNames(), nonResidentNames()}) {
        for (std::size_t i = 1; i < names.names.size(); ++i) {
            named.emplace(names.names[i].ordinal, names.names[i].text);
        }
    }
    std::size_t shown = 0;
    bool header = false;
    for (const NeEntry& e : table.entries) {
        if ((e.flags & entryExported) == 0 && named.count(e.ordinal) == 0) {
            continue;
        }
        const auto name = named.find(e.ordinal);
        if (!filter.empty() && (name == named.end() || !matchesFilter(name->second, filter))) {
            continue;
        }
        if (!header) {
            out << "  Ordinal  Address    Name\n";
            header = true;
        }
        out << "  " << dec(e.ordinal, 7) << "  ";
        if (e.kind == NeEntryKind::Constant) {
            out << "=" << hex(e.offset, 4) << "      ";
        } else {
            out << hex(e.segment, 4) << ':' << hex(e.offset, 4) << "  ";
        }
        out << (name == named.end() ? std::string("(by ordinal only)") : printable(name->second))
            << '\n';
        ++shown;
    }
    if (!filter.empty()) {
        out << "  " << dec(shown) << " export(s) match \"" << filter << "\"\n";
    }
    reportAll(out, table.damage);
}

void NeImage::listImports(Output& out, std::string_view filter) const
{
    heading(out, "Imports");
    std::vector<NeDamage> damage;
    const std::vector<std::string> modules = moduleNames(damage);
    // Per module, by ordinal and by name, each once, in module order.
    std::map<std::size_t, std::set<std::uint16_t>> ordinals;
    std::map<std::size_t, std::set<std::string>> byName;
    for (const NeSegment& segment : segments(damage)) {
        for (const NeRelocation& r : relocations(segment, out.budget(), damage)) {
            if ((r.flags & targetMask) == targetOrdinal) {
                ordinals[r.target1].insert(r.target2);
            } else if ((r.flags & targetMask) == targetName) {
                byName[r.target1].insert(importedName(r.target2).value_or("?"));
            }
        }
    }
    std::size_t shown = 0;
    for (std::size_t m = 1; m <= modules.size(); ++m) {
        std::vector<std::string> lines;
        for (const std::uint16_t ordinal : ordinals[m]) {
            if (filter.empty() || matchesFilter(ordinalText(ordinal), filter)) {
                lines.push_back(ordinalText(ordinal));
            }
        }
        for (const std::string& name : byName[m]) {
            if (filter.empty() || matchesFilter(name, filter)) {
                lines.push_back(printable(name));
            }
        }
        if (lines.empty()) {
            continue;
        }
        out << "  Module " << printable(modules[m - 1]) << '\n';
        for (const std::string& line : lines) {
            out << "    " << line << '\n';
        }
        shown += lines.size();
    }
    if (!filter.empty()) {
        out << "  " << dec(shown) << " import(s) match \"" << filter << "\"\n";
    }
    reportAll(out, damage);
}

void NeImage::listImportModules(Output& out, std::string_view filter) const
{
    heading(out, "Imported modules");
    std::vector<NeDamage> damage;
    for (const std::string& module : moduleNames(damage)) {
        if (matchesFilter(module, filter)) {
            out << "  " << printable(module) << '\n';
        }
    }
    reportAll(out, damage);
}

} // namespace tdump
