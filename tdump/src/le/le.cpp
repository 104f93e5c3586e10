#include "le/le.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <map>
#include <span>
#include <string_view>
#include <utility>

#include "names.h"
#include "options.h"
#include "mz/mz.h"

namespace tdump {
namespace {

// Fields of the linear executable header, by their offset in it.
namespace header {
constexpr std::uint32_t cpu = 0x08;
constexpr std::uint32_t os = 0x0A;
constexpr std::uint32_t moduleFlags = 0x10;
constexpr std::uint32_t pages = 0x14;
constexpr std::uint32_t pageSize = 0x28;
constexpr std::uint32_t lastPageOrShift = 0x2C; // LE: bytes on the last page; LX: offset shift
constexpr std::uint32_t fixupSize = 0x30;
constexpr std::uint32_t objectTable = 0x40;
constexpr std::uint32_t objects = 0x44;
constexpr std::uint32_t pageMap = 0x48;
constexpr std::uint32_t iteratedPages = 0x4C; // from the start of the file
constexpr std::uint32_t resourceTable = 0x50;
constexpr std::uint32_t resources = 0x54;
constexpr std::uint32_t residentNames = 0x58;
constexpr std::uint32_t entryTable = 0x5C;
constexpr std::uint32_t fixupPageTable = 0x68;
constexpr std::uint32_t fixupRecords = 0x6C;
constexpr std::uint32_t importModules = 0x70;
constexpr std::uint32_t importModuleCount = 0x74;
constexpr std::uint32_t importProcedures = 0x78;
constexpr std::uint32_t dataPages = 0x80;        // from the start of the file
constexpr std::uint32_t nonResidentNames = 0x88; // from the start of the file
constexpr std::uint32_t nonResidentSize = 0x8C;
constexpr std::uint32_t size = 0xB0;
constexpr std::uint32_t vxdSize = 0xC4;
} // namespace header

struct HeaderField {
    std::string_view name;
    std::uint32_t offset;
    int bytes;
};

constexpr HeaderField headerFields[] = {
    {"Byte order", 0x02, 1},
    {"Word order", 0x03, 1},
    {"Format level", 0x04, 4},
    {"CPU type", header::cpu, 2},
    {"Operating system", header::os, 2},
    {"Module version", 0x0C, 4},
    {"Module flags", header::moduleFlags, 4},
    {"Pages", header::pages, 4},
    {"Initial EIP object", 0x18, 4},
    {"Initial EIP", 0x1C, 4},
    {"Initial ESP object", 0x20, 4},
    {"Initial ESP", 0x24, 4},
    {"Page size", header::pageSize, 4},
    {"", header::lastPageOrShift, 4}, // named by the format
    {"Fixup section size", header::fixupSize, 4},
    {"Fixup section checksum", 0x34, 4},
    {"Loader section size", 0x38, 4},
    {"Loader section checksum", 0x3C, 4},
    {"Object table offset", header::objectTable, 4},
    {"Objects", header::objects, 4},
    {"Object page map offset", header::pageMap, 4},
    {"Iterated pages offset", header::iteratedPages, 4},
    {"Resource table offset", header::resourceTable, 4},
    {"Resources", header::resources, 4},
    {"Resident names offset", header::residentNames, 4},
    {"Entry table offset", header::entryTable, 4},
    {"Module directives offset", 0x60, 4},
    {"Module directives", 0x64, 4},
    {"Fixup page table offset", header::fixupPageTable, 4},
    {"Fixup record table offset", header::fixupRecords, 4},
    {"Import module names offset", header::importModules, 4},
    {"Import modules", header::importModuleCount, 4},
    {"Import procedure names offset", header::importProcedures, 4},
    {"Page checksums offset", 0x7C, 4},
    {"Data pages offset", header::dataPages, 4},
    {"Preload pages", 0x84, 4},
    {"Non-resident names offset", header::nonResidentNames, 4},
    {"Non-resident names size", header::nonResidentSize, 4},
    {"Non-resident names checksum", 0x90, 4},
    {"Automatic data object", 0x94, 4},
    {"Debug information offset", 0x98, 4},
    {"Debug information size", 0x9C, 4},
    {"Preload instance pages", 0xA0, 4},
    {"Demand instance pages", 0xA4, 4},
    {"Heap size", 0xA8, 4},
    {"Stack size", 0xAC, 4},
};

// A virtual device driver has no stack size; its header goes on with these.
constexpr HeaderField vxdFields[] = {
    {"Windows resources offset", 0xB8, 4},
    {"Windows resources size", 0xBC, 4},
    {"Device ID", 0xC0, 2},
    {"DDK version", 0xC2, 2},
};

constexpr std::uint32_t objectEntrySize = 24;
constexpr std::uint32_t resourceEntrySize = 14;
constexpr std::uint16_t osWindows386 = 4;

// Module types, in bits 15..17 of the module flags.
constexpr std::uint32_t moduleTypeMask = 0x38000;

constexpr Flag moduleFlagNames[] = {
    {0x4, "per-process initialisation"},
    {0x10, "no internal fixups"},
    {0x20, "no external fixups"},
    {0x300, ""}, // Presentation Manager compatibility, named apart
    {0x2000, "not loadable"},
    {moduleTypeMask, ""},
    {0x40000000, "per-process termination"},
};

constexpr Flag objectFlagNames[] = {
    {0x1, "readable"},   {0x2, "writable"},        {0x4, "executable"},
    {0x8, "resource"},   {0x10, "discardable"},    {0x20, "shared"},
    {0x40, "preload"},   {0x80, "invalid pages"},  {0x100, "zero-filled pages"},
    {0x200, "resident"}, {0x400, "long-lockable"}, {0x1000, "16:16 alias"},
    {0x2000, "big"},     {0x4000, "conforming"},   {0x8000, "I/O privilege"},
};

// The name a table gives a number, or otherwise.
std::string_view nameOf(std::span<const std::string_view> names, unsigned number,
                        std::string_view otherwise)
{
    if (number < names.size()) {
        return names[number];
    }
    return otherwise;
}

std::string_view moduleTypeName(std::uint32_t flags)
{
    switch (flags & moduleTypeMask) {
    case 0x00000:
        return "program";
    case 0x08000:
        return "library";
    case 0x18000:
        return "protected memory library";
    case 0x20000:
        return "physical device driver";
    case 0x28000:
        return "virtual device driver";
    default:
        return "module of unknown type";
    }
}

std::string_view osName(std::uint16_t os)
{
    static constexpr std::array<std::string_view, 5> names = {"unknown", "OS/2", "Windows",
                                                              "DOS 4.x", "Windows 386"};
    return nameOf(names, os, "unknown operating system");
}

std::string cpuName(std::uint16_t cpu)
{
    switch (cpu) {
    case 0x01:
        return "80286";
    case 0x02:
        return "80386";
    case 0x03:
        return "80486";
    case 0x04:
        return "Pentium";
    case 0x20:
        return "i860 (N10)";
    case 0x21:
        return "i860 (N11)";
    case 0x40:
        return "MIPS R2000";
    case 0x41:
        return "MIPS R6000";
    case 0x42:
        return "MIPS R4000";
    default:
        return "CPU 0x" + toHex(cpu, 2);
    }
}

std::string_view pageKindName(unsigned kind)
{
    static constexpr std::array<std::string_view, 6> names = {
        "legal", "iterated", "invalid", "zero-filled", "range", "compressed"};
    return nameOf(names, kind, "unknown kind");
}

std::string_view bundleTypeName(unsigned type)
{
    static constexpr std::array<std::string_view, 5> names = {"unused", "16-bit", "286 call gate",
                                                              "32-bit", "forwarder"};
    return nameOf(names, type, "unknown");
}

// Bytes of one entry of a bundle of this type (without its parameter typing bit).
constexpr std::array<std::uint8_t, 5> entrySizes = {0, 3, 5, 5, 7};

std::string_view fixupSourceName(std::uint8_t source)
{
    switch (source & 0x0F) {
    case 0x00:
        return "byte";
    case 0x02:
        return "16-bit selector";
    case 0x03:
        return "16:16 pointer";
    case 0x05:
        return "16-bit offset";
    case 0x06:
        return "16:32 pointer";
    case 0x07:
        return "32-bit offset";
    case 0x08:
        return "32-bit relative";
    default:
        return "unknown source";
    }
}

namespace fixupFlag {
constexpr std::uint8_t selectorSource = 0x02; // the source type with no target offset
constexpr std::uint8_t sourceList = 0x20;
constexpr std::uint8_t additive = 0x04;
constexpr std::uint8_t wideTarget = 0x10;
constexpr std::uint8_t wideAdditive = 0x20;
constexpr std::uint8_t wideNumber = 0x40;
constexpr std::uint8_t narrowOrdinal = 0x80;
} // namespace fixupFlag

enum FixupTarget : unsigned { internal, importOrdinal, importName, entry };

std::string_view resourceTypeName(std::uint16_t type)
{
    static constexpr std::array<std::string_view, 11> names = {"",
                                                               "pointer",
                                                               "bitmap",
                                                               "menu",
                                                               "dialog",
                                                               "string table",
                                                               "font directory",
                                                               "font",
                                                               "accelerators",
                                                               "data",
                                                               "message table"};
    return nameOf(names, type, "");
}

// An LE page map entry's page number: three bytes, the high one first.
std::uint32_t pageNumber(const std::array<std::uint8_t, 4>& entry)
{
    return (std::uint32_t{entry[0]} << 16) | (std::uint32_t{entry[1]} << 8) | entry[2];
}

// Sequential little-endian reads within [at, end) of a view; a read past the
// end fails and every later one too.
class Cursor {
public:
    Cursor(View view, std::uint64_t at, std::uint64_t end) : view_(view), at_(at), end_(end) {}

    std::uint64_t at() const { return at_; }
    bool ok() const { return ok_; }

    // A field of up to four bytes.
    std::uint32_t take(unsigned bytes)
    {
        std::uint32_t value = 0;
        if (!has(bytes) || bytes > sizeof value) {
            ok_ = false;
            return 0;
        }
        for (unsigned i = 0; i < bytes; ++i) {
            const auto byte = view_.u8(at_ + i);
            if (!byte) {
                ok_ = false;
                return 0;
            }
            value |= static_cast<std::uint32_t>(*byte) << (8 * i);
        }
        at_ += bytes;
        return value;
    }

    // Moves past bytes that are not read.
    void skip(std::uint64_t bytes)
    {
        if (!has(bytes)) {
            ok_ = false;
            return;
        }
        at_ += bytes;
    }

private:
    bool has(std::uint64_t bytes) const { return ok_ && at_ <= end_ && end_ - at_ >= bytes; }

    View view_;
    std::uint64_t at_;
    std::uint64_t end_;
    bool ok_ = true;
};

// A length-prefixed name at at; nullopt when it runs past end.
std::optional<std::string> countedName(View file, std::uint64_t at, std::uint64_t end)
{
    const auto length = file.u8(at);
    if (!length || at >= end || end - at - 1 < *length) {
        return std::nullopt;
    }
    std::string name(*length, '\0');
    if (!file.read(at + 1, std::span(reinterpret_cast<std::uint8_t*>(name.data()), name.size()))) {
        return std::nullopt;
    }
    return name;
}

std::string quotedName(std::string_view name)
{
    return '"' + printable(name) + '"';
}

} // namespace

std::optional<std::uint64_t> linearHeaderOffset(View file)
{
    for (const std::string_view signature : {"LE", "LX"}) {
        if (const auto offset = newHeaderWithSignature(file, signature)) {
            return *offset;
        }
    }
    return std::nullopt;
}

LinearExecutable::LinearExecutable(View file, std::uint64_t headerOffset)
    : file_(file), at_(headerOffset), lx_(file.u8(headerOffset + 1) == 'X')
{
}

std::uint32_t LinearExecutable::field(std::uint32_t offset) const
{
    return file_.u32(at_ + offset).value_or(0);
}

std::uint16_t LinearExecutable::field16(std::uint32_t offset) const
{
    return file_.u16(at_ + offset).value_or(0);
}

bool LinearExecutable::isVxd() const
{
    return !lx_ && field16(header::os) == osWindows386;
}

std::string LinearExecutable::description() const
{
    return std::string(lx_ ? "LX" : "LE") + " executable (" +
           std::string(osName(field16(header::os))) + "), " +
           std::string(moduleTypeName(field(header::moduleFlags))) + ", " +
           cpuName(field16(header::cpu));
}

void LinearExecutable::listHeader(Output& out) const
{
    heading(out, lx_ ? "LX header" : "LE header");
    label(out, "File offset") << "0x" << hex(file_.base() + at_, 1) << '\n';
    const std::uint64_t headerSize = isVxd() ? header::vxdSize : header::size;
    if (!file_.has(at_, headerSize)) {
        report(out,
               "the header (" + std::to_string(headerSize) +
                   " bytes) is cut off by the end of the file; missing fields read as 0",
               file_.base() + at_);
    }
    const auto listFields = [&](std::span<const HeaderField> fields) {
        for (const HeaderField& f : fields) {
            std::string_view name = f.name;
            if (name.empty()) {
                name = lx_ ? "Page offset shift" : "Bytes on last page";
            }
            const std::uint32_t value = f.bytes == 1   ? file_.u8(at_ + f.offset).value_or(0)
                                        : f.bytes == 2 ? field16(f.offset)
                                                       : field(f.offset);
            label(out, name) << hex(value, f.bytes * 2);
            if (f.offset == header::cpu) {
                out << "  " << cpuName(static_cast<std::uint16_t>(value));
            } else if (f.offset == header::os) {
                out << "  " << osName(static_cast<std::uint16_t>(value));
            } else if (f.offset == header::moduleFlags) {
                out << "  " << moduleTypeName(value);
                if (const std::string names = flagNames(value, moduleFlagNames, ", ");
                    !names.empty()) {
                    out << ", " << names;
                }
            }
            out << '\n';
        }
    };
    if (isVxd()) {
        listFields(std::span(headerFields).first(std::size(headerFields) - 1));
        listFields(vxdFields);
    } else {
        listFields(headerFields);
    }
}

std::uint64_t LinearExecutable::fitting(Output& out, std::uint64_t at, std::uint64_t count,
                                        std::uint64_t size, std::string_view table,
                                        std::string_view columns) const
{
    const std::uint64_t room = at < file_.size() ? (file_.size() - at) / size : 0;
    if (count > room) {
        report(out,
               "the " + std::string(table) + " (" + std::to_string(count) + " entries of " +
                   std::to_string(size) + " bytes) runs past the end of the file; " +
                   std::to_string(room) + " fit",
               file_.base() + at);
        count = room;
    }
    if (count != 0) {
        out << columns;
    }
    return count;
}

std::optional<std::uint64_t> LinearExecutable::pageData(std::uint32_t index) const
{
    const std::uint64_t map = headerRelative(header::pageMap);
    if (lx_) {
        const auto offset = file_.u32(map + std::uint64_t{index} * 8);
        const auto kind = file_.u16(map + std::uint64_t{index} * 8 + 6);
        if (!offset || !kind) {
            return std::nullopt;
        }
        const std::uint64_t shifted = std::uint64_t{*offset}
                                      << (field(header::lastPageOrShift) & 31);
        if (*kind == 0 || *kind == 5) {
            return field(header::dataPages) + shifted;
        }
        if (*kind == 1) {
            return field(header::iteratedPages) + shifted;
        }
        return std::nullopt;
    }
    std::array<std::uint8_t, 4> entry{};
    if (!file_.read(map + std::uint64_t{index} * 4, entry) || entry[3] != 0) {
        return std::nullopt;
    }
    const std::uint32_t number = pageNumber(entry);
    if (number == 0) {
        return std::nullopt;
    }
    return field(header::dataPages) + std::uint64_t{number - 1} * field(header::pageSize);
}

std::optional<std::uint64_t> LinearExecutable::fileOffset(std::uint16_t object,
                                                          std::uint32_t offset) const
{
    const std::uint64_t entry =
        headerRelative(header::objectTable) + std::uint64_t{object - 1U} * objectEntrySize;
    const std::uint32_t pageSize = field(header::pageSize);
    if (object == 0 || object > field(header::objects) || pageSize == 0) {
        return std::nullopt;
    }
    const auto first = file_.u32(entry + 12);
    const auto count = file_.u32(entry + 16);
    if (!first || !count || *first == 0 || offset / pageSize >= *count) {
        return std::nullopt;
    }
    const auto page = pageData(*first - 1 + offset / pageSize);
    if (!page) {
        return std::nullopt;
    }
    return *page + offset % pageSize;
}

void LinearExecutable::listObjects(Output& out) const
{
    heading(out, "Objects");
    const std::uint64_t table = headerRelative(header::objectTable);
    const std::uint64_t count =
        fitting(out, table, field(header::objects), objectEntrySize, "object table",
                "     #  Virtual size  Base      Flags     Pages (first, count)\n");
    for (std::uint64_t i = 0; i < count && !out.budget().exhausted(); ++i) {
        out.budget().charge(entryCost);
        const std::uint64_t at = table + i * objectEntrySize;
        const std::uint32_t flags = file_.u32(at + 8).value_or(0);
        out << "  " << dec(i + 1, 4) << "  " << hex(file_.u32(at).value_or(0)) << "      "
            << hex(file_.u32(at + 4).value_or(0)) << "  " << hex(flags) << "  "
            << dec(file_.u32(at + 12).value_or(0), 5) << ", " << dec(file_.u32(at + 16).value_or(0))
            << "  " << flagNames(flags, objectFlagNames, ", ") << '\n';
    }
    listPageMap(out);
}

void LinearExecutable::listPageMap(Output& out) const
{
    heading(out, "Object page map");
    const std::uint64_t map = headerRelative(header::pageMap);
    const std::uint64_t entrySize = lx_ ? 8 : 4;
    const std::uint64_t count =
        fitting(out, map, field(header::pages), entrySize, "object page map",
                lx_ ? "  Page  Data offset  Size  Kind         File offset\n"
                    : "  Page  Number  Kind         File offset\n");
    for (std::uint64_t i = 0; i < count && !out.budget().exhausted(); ++i) {
        out.budget().charge(entryCost);
        const std::uint64_t at = map + i * entrySize;
        const auto index = static_cast<std::uint32_t>(i);
        const auto data = pageData(index);
        unsigned kind = 0;
        std::uint32_t size = 0;
        out << "  " << dec(i + 1, 4) << "  ";
        if (lx_) {
            kind = file_.u16(at + 6).value_or(0);
            size = file_.u16(at + 4).value_or(0);
            out << hex(file_.u32(at).value_or(0)) << "     " << hex(size, 4) << "  ";
        } else {
            std::array<std::uint8_t, 4> entry{};
            (void)file_.read(at, entry);
            kind = entry[3];
            out << hex(pageNumber(entry), 6) << "  ";
        }
        out << column(pageKindName(kind), 11);
        if (data) {
            out << "  0x" << hex(file_.base() + *data, 1);
        }
        out << '\n';
        if (lx_ && kind == 1 && data) {
            listIteratedPage(out, *data, size);
        }
    }
}

// An iterated page is a run of records, each a pattern and how many times it
// repeats; they fill the page when expanded.
void LinearExecutable::listIteratedPage(Output& out, std::uint64_t at, std::uint32_t size) const
{
    Cursor records(file_, at, at + size);
    std::uint64_t expanded = 0;
    while (records.at() < at + size && !out.budget().exhausted()) {
        out.budget().charge(entryCost);
        const std::uint64_t record = records.at();
        const std::uint32_t iterations = records.take(2);
        const std::uint32_t length = records.take(2);
        records.skip(length); // the pattern
        if (!records.ok()) {
            report(out, "an iteration record runs past the page's data", file_.base() + record);
            return;
        }
        expanded += std::uint64_t{iterations} * length;
        out << "          " << dec(iterations) << " x " << dec(length) << " bytes\n";
    }
    out << "          expanded to " << dec(expanded) << " bytes\n";
    if (expanded > field(header::pageSize)) {
        report(out,
               "the iteration records expand to more than a page (" +
                   std::to_string(field(header::pageSize)) + " bytes)",
               file_.base() + at);
    }
}

LinearTable<LinearName> LinearExecutable::readNames(std::uint64_t start, std::uint64_t end) const
{
    LinearTable<LinearName> table;
    end = std::min(end, file_.size());
    std::uint64_t at = start;
    while (true) {
        const auto length = at < end ? file_.u8(at) : std::nullopt;
        if (!length) {
            table.damage = "the name table has no end mark (a length of 0) before its end";
            table.damageAt = at;
            return table;
        }
        if (*length == 0) {
            return table;
        }
        const auto name = countedName(file_, at, end);
        const std::uint64_t ordinalAt = at + 1 + *length;
        const auto ordinal = ordinalAt + 2 <= end ? file_.u16(ordinalAt) : std::nullopt;
        if (!name || !ordinal) {
            table.damage = "a name runs past the end of its table";
            table.damageAt = at;
            return table;
        }
        table.items.push_back({*name, *ordinal});
        at = ordinalAt + 2;
    }
}

LinearTable<LinearName> LinearExecutable::residentNames() const
{
    return readNames(headerRelative(header::residentNames), file_.size());
}

LinearTable<LinearName> LinearExecutable::nonResidentNames() const
{
    const std::uint32_t offset = field(header::nonResidentNames);
    if (offset == 0) {
        return {};
    }
    const std::uint32_t size = field(header::nonResidentSize);
    return readNames(offset, size == 0 ? file_.size() : std::uint64_t{offset} + size);
}

LinearTable<std::string> LinearExecutable::importModules() const
{
    LinearTable<std::string> table;
    std::uint64_t at = headerRelative(header::importModules);
    const std::uint32_t count = field(header::importModuleCount);
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto name = countedName(file_, at, file_.size());
        if (!name) {
            table.damage = "the import module name table (" + std::to_string(count) +
                           " names) runs past the end of the file";
            table.damageAt = at;
            break;
        }
        at += 1 + name->size();
        table.items.push_back(*name);
    }
    return table;
}

std::string LinearExecutable::importModuleName(std::uint16_t module,
                                               const LinearTable<std::string>& modules) const
{
    if (module == 0 || module > modules.items.size()) {
        return "module " + std::to_string(module) + " (none such)";
    }
    return printable(modules.items[module - 1U]);
}

// A forwarder names its module and, by its flags, the procedure's ordinal
// or the offset of its name.
std::string LinearExecutable::forwardTarget(const LinearEntry& entry,
                                            const LinearTable<std::string>& modules) const
{
    return importModuleName(entry.selector, modules) + ' ' +
           ((entry.flags & 1) != 0 ? "ordinal " + std::to_string(entry.offset)
                                   : procedureName(entry.offset));
}

std::string LinearExecutable::procedureName(std::uint32_t offset) const
{
    const std::uint64_t at = headerRelative(header::importProcedures) + offset;
    const auto name = countedName(file_, at, file_.size());
    if (!name) {
        return "(the procedure name at 0x" + toHex(offset) + " lies outside the file)";
    }
    return quotedName(*name);
}

void LinearExecutable::listNameTable(Output& out, std::string_view title,
                                     const LinearTable<LinearName>& table) const
{
    heading(out, title);
    for (const LinearName& name : table.items) {
        out.budget().charge(entryCost);
        out << "  " << dec(name.ordinal, 5) << "  " << printable(name.name) << '\n';
    }
    reportDamage(out, table);
}

void LinearExecutable::listNames(Output& out) const
{
    listNameTable(out, "Resident names", residentNames());
    if (field(header::nonResidentNames) != 0) {
        listNameTable(out, "Non-resident names", nonResidentNames());
    }
    heading(out, "Import modules");
    const LinearTable<std::string> modules = importModules();
    for (std::size_t i = 0; i < modules.items.size(); ++i) {
        out << "  " << dec(i + 1, 5) << "  " << printable(modules.items[i]) << '\n';
    }
    reportDamage(out, modules);
    // The procedure names run from their table's start to the end of the
    // fixup section; the first is usually empty, so that no offset is 0.
    heading(out, "Import procedure names");
    const std::uint64_t start = headerRelative(header::importProcedures);
    const std::uint64_t end = std::min<std::uint64_t>(
        headerRelative(header::fixupPageTable) + field(header::fixupSize), file_.size());
    for (std::uint64_t at = start; at < end && !out.budget().exhausted();) {
        out.budget().charge(entryCost);
        const auto name = countedName(file_, at, end);
        if (!name) {
            report(out, "a procedure name runs past the end of the fixup section",
                   file_.base() + at);
            break;
        }
        if (!name->empty()) {
            out << "  +" << hex(at - start, 4) << "  " << printable(*name) << '\n';
        }
        at += 1 + name->size();
    }
}

LinearTable<LinearBundle> LinearExecutable::entryTable() const
{
    LinearTable<LinearBundle> table;
    std::uint64_t at = headerRelative(header::entryTable);
    std::uint32_t ordinal = 1;
    while (true) {
        const auto count = file_.u8(at);
        if (!count) {
            table.damage = "the entry table has no end mark (a bundle count of 0) before the end "
                           "of the file";
            table.damageAt = at;
            return table;
        }
        if (*count == 0) {
            return table;
        }
        LinearBundle bundle;
        bundle.at = at;
        bundle.count = *count;
        bundle.type = file_.u8(at + 1).value_or(0);
        bundle.firstOrdinal = ordinal;
        const unsigned type = bundle.type & 0x7FU;
        if (type >= entrySizes.size()) {
            table.damage = "unknown entry bundle type 0x" + toHex(bundle.type, 2) +
                           "; the entry table cannot be read past it";
            table.damageAt = at + 1;
            return table;
        }
        if (type == 0) {
            table.items.push_back(std::move(bundle));
            at += 2;
            ordinal += *count;
            continue;
        }
        Cursor entries(file_, at + 2, file_.size());
        bundle.object = static_cast<std::uint16_t>(entries.take(2));
        for (unsigned i = 0; i < *count; ++i) {
            LinearEntry entry;
            entry.ordinal = ordinal + i;
            entry.type = static_cast<std::uint8_t>(type);
            entry.object = bundle.object;
            entry.flags = static_cast<std::uint8_t>(entries.take(1));
            if (type == 4) {
                entry.selector = static_cast<std::uint16_t>(entries.take(2));
                entry.offset = entries.take(4);
            } else {
                entry.offset = entries.take(type == 3 ? 4 : 2);
                if (type == 2) {
                    entry.selector = static_cast<std::uint16_t>(entries.take(2));
                }
            }
            if (!entries.ok()) {
                table.damage = "a bundle of " + std::to_string(*count) + " " +
                               std::string(bundleTypeName(type)) +
                               " entries runs past the end of the file";
                table.damageAt = at;
                table.items.push_back(std::move(bundle));
                return table;
            }
            bundle.entries.push_back(entry);
        }
        table.items.push_back(std::move(bundle));
        at = entries.at();
        ordinal += *count;
    }
}

namespace {

std::string entryFlags(const LinearEntry& entry)
{
    std::string text = (entry.flags & 1) != 0 ? "exported" : "not exported";
    if ((entry.flags & 2) != 0) {
        text += ", shared data";
    }
    if (const unsigned words = entry.flags >> 3U; words != 0) {
        text += ", " + std::to_string(words) + " parameter words";
    }
    return text;
}

// Each ordinal's name, from both name tables.
std::map<std::uint32_t, std::string> namesByOrdinal(const LinearTable<LinearName>& resident,
                                                    const LinearTable<LinearName>& nonResident)
{
    std::map<std::uint32_t, std::string> names;
    for (const auto* table : {&resident, &nonResident}) {
        // The first name of either table names the module, not an entry.
        for (std::size_t i = 1; i < table->items.size(); ++i) {
            names.emplace(table->items[i].ordinal, table->items[i].name);
        }
    }
    return names;
}

} // namespace

void LinearExecutable::listEntries(Output& out) const
{
    heading(out, "Entry table");
    const LinearTable<LinearBundle> table = entryTable();
    const auto names = namesByOrdinal(residentNames(), nonResidentNames());
    const LinearTable<std::string> modules = importModules();
    for (const LinearBundle& bundle : table.items) {
        if (out.budget().exhausted()) {
            return;
        }
        const unsigned type = bundle.type & 0x7FU;
        out << "  Bundle of " << dec(bundle.count) << ' ' << bundleTypeName(type);
        if (type == 0) {
            out << " entries (ordinals " << dec(bundle.firstOrdinal) << '-'
                << dec(bundle.firstOrdinal + bundle.count - 1) << ")\n";
            continue;
        }
        out << " entries";
        if (type != 4) {
            out << " in object " << dec(bundle.object);
        }
        if ((bundle.type & 0x80) != 0) {
            out << ", with parameter types";
        }
        out << " (at file offset 0x" << hex(file_.base() + bundle.at, 1) << ")\n";
        for (const LinearEntry& entry : bundle.entries) {
            out.budget().charge(entryCost);
            out << "    " << dec(entry.ordinal, 5) << "  ";
            if (type == 4) {
                out << forwardTarget(entry, modules);
            } else {
                out << hex(entry.offset, type == 3 ? 8 : 4);
                if (type == 2) {
                    out << "  call gate " << hex(entry.selector, 4);
                }
                out << "  " << entryFlags(entry);
            }
            if (const auto name = names.find(entry.ordinal); name != names.end()) {
                out << "  " << printable(name->second);
            }
            out << '\n';
        }
    }
    reportDamage(out, table);
}

void LinearExecutable::listExports(Output& out, std::string_view filter) const
{
    heading(out, "Exports");
    const LinearTable<LinearBundle> table = entryTable();
    const auto names = namesByOrdinal(residentNames(), nonResidentNames());
    const LinearTable<std::string> modules = importModules();
    out << "  Ordinal  Object  Offset    Name\n";
    for (const LinearBundle& bundle : table.items) {
        for (const LinearEntry& entry : bundle.entries) {
            const auto name = names.find(entry.ordinal);
            const std::string_view text =
                name != names.end() ? std::string_view(name->second) : std::string_view();
            // A forwarder's flag bit 0 says how it imports, not whether it is exported.
            const bool exported = entry.type != 4 && (entry.flags & 1) != 0;
            if ((name == names.end() && !exported) || !matchesFilter(text, filter)) {
                continue;
            }
            out << "  " << dec(entry.ordinal, 7) << "  ";
            if (entry.type == 4) {
                out << "     -  -         " << printable(text) << " -> "
                    << forwardTarget(entry, modules) << '\n';
                continue;
            }
            out << dec(entry.object, 6) << "  " << hex(entry.offset) << "  " << printable(text)
                << '\n';
        }
    }
    reportDamage(out, table);
}

void LinearExecutable::listDeviceDescriptor(Output& out) const
{
    heading(out, "Device description block");
    const LinearTable<LinearBundle> table = entryTable();
    const LinearEntry* first = nullptr;
    for (const LinearBundle& bundle : table.items) {
        if (!bundle.entries.empty() && bundle.entries.front().type == 3) {
            first = &bundle.entries.front();
            break;
        }
    }
    if (first == nullptr) {
        report(out, "the entry table has no 32-bit entry to lead to the device description block",
               file_.base() + headerRelative(header::entryTable));
        return;
    }
    label(out, "Entry") << dec(first->ordinal) << ": object " << dec(first->object) << " + "
                        << hex(first->offset) << '\n';
    const auto at = fileOffset(first->object, first->offset);
    constexpr std::uint64_t blockSize = 0x38;
    if (!at || !file_.has(*at, blockSize)) {
        report(out, "the entry's target does not lie in the file's page data",
               file_.base() + headerRelative(header::entryTable));
        return;
    }
    label(out, "File offset") << "0x" << hex(file_.base() + *at, 1) << '\n';
    std::string name(8, '\0');
    (void)file_.read(*at + 0x0C, std::span(reinterpret_cast<std::uint8_t*>(name.data()), 8));
    name.erase(std::find(name.begin(), name.end(), '\0'), name.end());
    while (!name.empty() && name.back() == ' ') {
        name.pop_back();
    }
    label(out, "Name") << printable(name) << '\n';
    label(out, "Device ID") << hex(file_.u16(*at + 0x06).value_or(0), 4) << '\n';
    label(out, "Version") << dec(file_.u8(*at + 0x08).value_or(0)) << '.'
                          << dec(file_.u8(*at + 0x09).value_or(0)) << '\n';
    label(out, "SDK version") << hex(file_.u16(*at + 0x04).value_or(0), 4) << '\n';
    label(out, "Flags") << hex(file_.u16(*at + 0x0A).value_or(0), 4) << '\n';
    static constexpr std::pair<std::string_view, std::uint32_t> addresses[] = {
        {"Init order", 0x14},       {"Control procedure", 0x18}, {"V86 API procedure", 0x1C},
        {"PM API procedure", 0x20}, {"V86 API CS:IP", 0x24},     {"PM API CS:IP", 0x28},
        {"Reference data", 0x2C},   {"Service table", 0x30},     {"Service table size", 0x34},
    };
    for (const auto& [fieldName, offset] : addresses) {
        label(out, fieldName) << hex(file_.u32(*at + offset).value_or(0)) << '\n';
    }
}

std::uint64_t LinearExecutable::fixupPagesInFile() const
{
    const std::uint64_t pageTable = headerRelative(header::fixupPageTable);
    const std::uint64_t entries = pageTable < file_.size() ? (file_.size() - pageTable) / 4 : 0;
    return std::min<std::uint64_t>(field(header::pages), entries == 0 ? 0 : entries - 1);
}

std::uint64_t LinearExecutable::fixupRecordsEnd() const
{
    const std::uint64_t records = headerRelative(header::fixupRecords);
    const std::uint64_t modules = headerRelative(header::importModules);
    return std::min(modules >= records ? modules : file_.size(), file_.size());
}

LinearTable<LinearFixup> LinearExecutable::pageFixups(std::uint32_t page, std::uint64_t limit) const
{
    LinearTable<LinearFixup> table;
    const std::uint64_t pageTable = headerRelative(header::fixupPageTable);
    const auto first = file_.u32(pageTable + std::uint64_t{page} * 4);
    const auto last = file_.u32(pageTable + std::uint64_t{page} * 4 + 4);
    if (!first || !last) {
        table.damage = "the fixup page table runs past the end of the file";
        table.damageAt = pageTable + std::uint64_t{page} * 4;
        return table;
    }
    const std::uint64_t records = headerRelative(header::fixupRecords);
    const std::uint64_t end = fixupRecordsEnd();
    std::uint64_t stop = records + *last;
    if (*first > *last || stop > end) {
        table.damage = "page " + std::to_string(page + 1) + "'s fixups (0x" + toHex(*first) +
                       " to 0x" + toHex(*last) + ") lie past the fixup record table (0x" +
                       toHex(end > records ? end - records : 0) + " bytes)";
        table.damageAt = pageTable + std::uint64_t{page} * 4;
        stop = std::min(stop, end);
    }
    Cursor c(file_, records + *first, stop);
    while (c.at() < stop && table.items.size() < limit) {
        LinearFixup fixup;
        fixup.at = c.at();
        fixup.source = static_cast<std::uint8_t>(c.take(1));
        fixup.flags = static_cast<std::uint8_t>(c.take(1));
        const bool list = (fixup.source & fixupFlag::sourceList) != 0;
        const std::uint32_t sourceCount = list ? c.take(1) : 0;
        if (!list) {
            fixup.sources.push_back(static_cast<std::int16_t>(c.take(2)));
        }
        const unsigned numberBytes = (fixup.flags & fixupFlag::wideNumber) != 0 ? 2 : 1;
        const unsigned wide = (fixup.flags & fixupFlag::wideTarget) != 0 ? 4 : 2;
        fixup.number = static_cast<std::uint16_t>(c.take(numberBytes));
        switch (fixup.target()) {
        case internal:
            fixup.hasValue = (fixup.source & 0x0F) != fixupFlag::selectorSource;
            fixup.value = fixup.hasValue ? c.take(wide) : 0;
            break;
        case importOrdinal:
            fixup.hasValue = true;
            fixup.value = c.take((fixup.flags & fixupFlag::narrowOrdinal) != 0 ? 1 : wide);
            break;
        case importName:
            fixup.hasValue = true;
            fixup.value = c.take(wide);
            break;
        default:
            break;
        }
        if ((fixup.flags & fixupFlag::additive) != 0) {
            fixup.additive = c.take((fixup.flags & fixupFlag::wideAdditive) != 0 ? 4 : 2);
        }
        for (std::uint32_t i = 0; i < sourceCount; ++i) {
            fixup.sources.push_back(static_cast<std::int16_t>(c.take(2)));
        }
        if (!c.ok()) {
            table.damage = "a fixup record runs past the end of its page's fixups";
            table.damageAt = fixup.at;
            break;
        }
        table.items.push_back(std::move(fixup));
    }
    return table;
}

std::string LinearExecutable::fixupTarget(const LinearFixup& fixup,
                                          const LinearTable<std::string>& modules) const
{
    std::string text;
    switch (fixup.target()) {
    case internal:
        text = "object " + std::to_string(fixup.number);
        if (fixup.hasValue) {
            text += " + 0x" + toHex(fixup.value, 8);
        }
        break;
    case importOrdinal:
        text = importModuleName(fixup.number, modules) + " ordinal " + std::to_string(fixup.value);
        break;
    case importName:
        text = importModuleName(fixup.number, modules) + ' ' + procedureName(fixup.value);
        break;
    default:
        text = "entry " + std::to_string(fixup.number);
        break;
    }
    if (fixup.additive) {
        text += " additive 0x" + toHex(*fixup.additive);
    }
    return text;
}

void LinearExecutable::listFixups(Output& out, bool records) const
{
    heading(out, "Fixup page table");
    const std::uint64_t pageTable = headerRelative(header::fixupPageTable);
    const std::uint64_t count =
        fitting(out, pageTable, std::uint64_t{field(header::pages)} + 1, 4, "fixup page table");
    const LinearTable<std::string> modules = importModules();
    const std::uint64_t end = fixupRecordsEnd();
    const std::uint64_t recordTable = headerRelative(header::fixupRecords);
    for (std::uint64_t page = 0; page + 1 < count && !out.budget().exhausted(); ++page) {
        out.budget().charge(entryCost);
        const std::uint32_t first = file_.u32(pageTable + page * 4).value_or(0);
        const std::uint32_t last = file_.u32(pageTable + page * 4 + 4).value_or(0);
        out << "  Page " << dec(page + 1, 4) << "  records 0x" << hex(first, 4) << "-0x"
            << hex(last, 4) << '\n';
        if (!records) {
            if (first > last || recordTable + last > end) {
                report(out,
                       "these fixups lie past the fixup record table (0x" +
                           toHex(end > recordTable ? end - recordTable : 0) + " bytes)",
                       file_.base() + pageTable + page * 4);
            }
            continue;
        }
        const LinearTable<LinearFixup> fixups =
            pageFixups(static_cast<std::uint32_t>(page), out.budget().limit());
        for (const LinearFixup& fixup : fixups.items) {
            if (out.budget().exhausted()) {
                return;
            }
            out.budget().charge(entryCost);
            out << "   ";
            for (const std::int32_t source : fixup.sources) {
                const auto magnitude = static_cast<std::uint32_t>(source < 0 ? -source : source);
                out << (source < 0 ? " -" : " +") << hex(magnitude, 4);
            }
            out << "  " << column(fixupSourceName(fixup.source), 18);
            if ((fixup.source & 0x10) != 0) {
                out << "alias ";
            }
            out << fixupTarget(fixup, modules) << '\n';
        }
        reportDamage(out, fixups);
    }
}

void LinearExecutable::listImports(Output& out, std::string_view filter) const
{
    heading(out, "Imports");
    const LinearTable<std::string> modules = importModules();
    // Each module's procedures in the order the fixups first name them.
    std::map<std::uint16_t, std::vector<std::string>> imports;
    const std::uint64_t pages = fixupPagesInFile();
    for (std::uint64_t page = 0; page < pages && !out.budget().exhausted(); ++page) {
        const LinearTable<LinearFixup> fixups =
            pageFixups(static_cast<std::uint32_t>(page), out.budget().limit());
        for (const LinearFixup& fixup : fixups.items) {
            out.budget().charge(entryCost);
            if (fixup.target() != importOrdinal && fixup.target() != importName) {
                continue;
            }
            std::string name = fixup.target() == importOrdinal
                                   ? "ordinal " + std::to_string(fixup.value)
                                   : procedureName(fixup.value);
            std::vector<std::string>& names = imports[fixup.number];
            if (std::find(names.begin(), names.end(), name) == names.end()) {
                names.push_back(std::move(name));
            }
        }
    }
    for (const auto& [module, names] : imports) {
        const std::string moduleName = importModuleName(module, modules);
        const bool moduleMatches = matchesFilter(moduleName, filter);
        bool headed = false;
        for (const std::string& name : names) {
            if (!moduleMatches && !matchesFilter(name, filter)) {
                continue;
            }
            if (!headed) {
                out << "  " << moduleName << '\n';
                headed = true;
            }
            out << "    " << name << '\n';
        }
    }
    reportDamage(out, modules);
}

void LinearExecutable::listImportModules(Output& out, std::string_view filter) const
{
    heading(out, "Imported modules");
    const LinearTable<std::string> modules = importModules();
    for (const std::string& module : modules.items) {
        if (matchesFilter(module, filter)) {
            out << "  " << printable(module) << '\n';
        }
    }
    reportDamage(out, modules);
}

void LinearExecutable::listResources(Output& out) const
{
    heading(out, "Resources");
    const std::uint64_t table = headerRelative(header::resourceTable);
    const std::uint64_t count =
        fitting(out, table, field(header::resources), resourceEntrySize, "resource table",
                "  Type                  Name    Size      Object  Offset\n");
    for (std::uint64_t i = 0; i < count && !out.budget().exhausted(); ++i) {
        out.budget().charge(entryCost);
        const std::uint64_t at = table + i * resourceEntrySize;
        const std::uint16_t type = file_.u16(at).value_or(0);
        out << "  " << hex(type, 4) << ' ' << column(resourceTypeName(type), 16) << "  "
            << hex(file_.u16(at + 2).value_or(0), 4) << "  " << hex(file_.u32(at + 4).value_or(0))
            << "  " << dec(file_.u16(at + 8).value_or(0), 6) << "  "
            << hex(file_.u32(at + 10).value_or(0)) << '\n';
    }
}

} // namespace tdump
