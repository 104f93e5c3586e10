#pragma once

// Linear executables: LE (Windows virtual device drivers, DOS-extended
// programs) and LX (OS/2 2.x programs and libraries), a linear executable
// header behind an MS-DOS stub and the tables it points at. The two share
// every table but the object page map, which LE keeps as page numbers and LX
// as offsets into the file.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bytes.h"
#include "output.h"

namespace tdump {

// The file offset of an "LE" or "LX" header behind an MS-DOS stub.
std::optional<std::uint64_t> linearHeaderOffset(View file);

// One name of the resident or non-resident name table.
struct LinearName {
    std::string name;
    std::uint16_t ordinal = 0;
};

// A table read whole, or up to the damage that stopped it.
template <class Item> struct LinearTable {
    std::vector<Item> items;
    std::string damage; // empty when the table was read to its end
    std::uint64_t damageAt = 0;
};

// One entry of the entry table, with what its bundle says of it.
struct LinearEntry {
    std::uint32_t ordinal = 0;
    std::uint8_t type = 0; // the bundle's type, without its parameter typing bit
    std::uint16_t object = 0;
    std::uint8_t flags = 0;
    std::uint32_t offset = 0;   // a forwarder's procedure ordinal or name offset
    std::uint16_t selector = 0; // a call gate's selector; a forwarder's module
};

// A bundle of the entry table: count entries of one type in one object.
struct LinearBundle {
    std::uint64_t at = 0; // file offset
    std::uint8_t count = 0;
    std::uint8_t type = 0; // as stored
    std::uint16_t object = 0;
    std::uint32_t firstOrdinal = 0;
    std::vector<LinearEntry> entries; // none for an unused bundle
};

// A fixup record.
struct LinearFixup {
    std::uint64_t at = 0; // file offset
    std::uint8_t source = 0;
    std::uint8_t flags = 0;
    std::vector<std::int32_t> sources; // offsets in the page (one unless a source list)
    std::uint16_t number = 0;          // object, module or entry ordinal
    std::uint32_t value = 0;           // target offset, import ordinal or name offset
    bool hasValue = false;             // a selector fixup to an object has no offset
    std::optional<std::uint32_t> additive;

    unsigned target() const { return flags & 3U; }
};

class LinearExecutable {
public:
    LinearExecutable(View file, std::uint64_t headerOffset);

    bool isLx() const { return lx_; }
    // A virtual device driver: an LE file for Windows 386, which has a
    // device description block.
    bool isVxd() const;
    // e.g. "LX executable (OS/2), library, 80386"
    std::string description() const;

    void listHeader(Output& out) const;
    // The object table, then the object page map with the iterated pages'
    // records.
    void listObjects(Output& out) const;
    // Resident and non-resident names, import module and procedure names.
    void listNames(Output& out) const;
    void listEntries(Output& out) const;
    // The device description block the first 32-bit entry points at.
    void listDeviceDescriptor(Output& out) const;
    // The fixup page table; with records, each page's fixup records.
    void listFixups(Output& out, bool records) const;
    void listResources(Output& out) const;

    void listExports(Output& out, std::string_view filter) const;
    // Each imported procedure the fixups name, by module.
    void listImports(Output& out, std::string_view filter) const;
    void listImportModules(Output& out, std::string_view filter) const;

    // The tables as read, for the listings and their tests.
    LinearTable<LinearName> residentNames() const;
    LinearTable<LinearName> nonResidentNames() const;
    LinearTable<LinearBundle> entryTable() const;
    LinearTable<std::string> importModules() const;
    // The fixup records of page index (0-based), at most limit of them.
    LinearTable<LinearFixup> pageFixups(std::uint32_t page, std::uint64_t limit) const;

private:
    std::uint32_t field(std::uint32_t offset) const;
    std::uint16_t field16(std::uint32_t offset) const;
    // A table the header locates relative to itself.
    std::uint64_t headerRelative(std::uint32_t offset) const { return at_ + field(offset); }
    // Where the byte at offset of an object lies in the file.
    std::optional<std::uint64_t> fileOffset(std::uint16_t object, std::uint32_t offset) const;
    // The file offset of a page's data (index 0-based), if it has any.
    std::optional<std::uint64_t> pageData(std::uint32_t index) const;
    // How many entries of size bytes from at fit in the file, reporting a
    // count that does not; with the column heading when there are any.
    std::uint64_t fitting(Output& out, std::uint64_t at, std::uint64_t count, std::uint64_t size,
                          std::string_view table, std::string_view columns = {}) const;
    template <class Item> void reportDamage(Output& out, const LinearTable<Item>& table) const
    {
        if (!table.damage.empty()) {
            report(out, table.damage, file_.base() + table.damageAt);
        }
    }
    LinearTable<LinearName> readNames(std::uint64_t start, std::uint64_t end) const;
    std::string importModuleName(std::uint16_t module,
                                 const LinearTable<std::string>& modules) const;
    std::string procedureName(std::uint32_t offset) const;
    std::string forwardTarget(const LinearEntry& entry,
                              const LinearTable<std::string>& modules) const;
    std::string fixupTarget(const LinearFixup& fixup,
                            const LinearTable<std::string>& modules) const;
    std::uint64_t fixupRecordsEnd() const;
    // How many pages' fixup page table entries lie in the file.
    std::uint64_t fixupPagesInFile() const;
    void listPageMap(Output& out) const;
    void listIteratedPage(Output& out, std::uint64_t at, std::uint32_t size) const;
    void listNameTable(Output& out, std::string_view title,
                       const LinearTable<LinearName>& table) const;

    View file_;
    std::uint64_t at_;
    bool lx_;
};

} // namespace tdump
