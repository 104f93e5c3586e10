#pragma once

// NE ("new executable") images of 16-bit Windows and OS/2 1.x: DLLs, programs
// and fonts. The header behind the MS-DOS stub, the segment table with each
// segment's relocation records, the resource table, the name tables, the
// module references and the entry table.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "budget.h"
#include "bytes.h"
#include "mz/mz.h"
#include "options.h"
#include "output.h"

namespace tdump {

// Something malformed a table walk found: what, and where in the file.
struct NeDamage {
    std::string what;
    std::uint64_t offset;
};

// A name of the resident or non-resident name table, or an imported name.
struct NeName {
    std::string text;
    std::uint16_t ordinal = 0;
};

struct NeNameTable {
    std::vector<NeName> names;
    std::vector<NeDamage> damage;
};

struct NeSegment {
    std::uint64_t fileOffset = 0; // 0: no data in the file
    std::uint32_t length = 0;     // in the file; a stored 0 stands for 64 KiB when there is data
    std::uint32_t minAlloc = 0;   // a stored 0 stands for 64 KiB
    std::uint16_t flags = 0;
};

enum class NeEntryKind { Fixed, Movable, Constant };

struct NeEntry {
    std::uint16_t ordinal = 0;
    NeEntryKind kind = NeEntryKind::Fixed;
    std::uint8_t segment = 0;
    std::uint16_t offset = 0; // the value of a constant
    std::uint8_t flags = 0;
};

struct NeBundle {
    std::uint64_t fileOffset = 0;
    std::uint8_t count = 0;
    std::uint8_t indicator = 0; // 0 unused, 0xFF movable, 0xFE constant, else the segment
    std::uint16_t firstOrdinal = 0;
};

struct NeEntryTable {
    std::vector<NeBundle> bundles;
    std::vector<NeEntry> entries;
    std::vector<NeDamage> damage;
};

// One relocation record of a segment.
struct NeRelocation {
    std::uint64_t fileOffset = 0;
    std::uint8_t addressType = 0;
    std::uint8_t flags = 0; // target type in the low two bits, additive 4
    std::uint16_t offset = 0;
    std::uint16_t target1 = 0; // segment or module index or fixup kind
    std::uint16_t target2 = 0; // offset, ordinal or name offset
};

class NeImage final : public NewExecutable {
public:
    // nullopt unless view holds an MZ stub whose e_lfanew leads to "NE" and
    // the fixed part of the NE header.
    static std::optional<NeImage> open(View view);

    bool isDll() const;
    // e.g. "NE image (DLL), 16-bit Windows"
    std::string description() const;

    // The header and the tables -ei chooses: segments (OBJ), relocations
    // (FIX, not with -er), resources (RES), names (NAM) and entries (ENT).
    void listTables(Output& out, const Options& options) const override;
    void listExports(Output& out, std::string_view filter) const override;
    void listImports(Output& out, std::string_view filter) const override;
    void listImportModules(Output& out, std::string_view filter) const override;

    // The readers behind the listings.
    std::vector<NeSegment> segments(std::vector<NeDamage>& damage) const;
    NeNameTable residentNames() const;
    NeNameTable nonResidentNames() const;
    NeEntryTable entryTable() const;
    std::vector<std::string> moduleNames(std::vector<NeDamage>& damage) const;
    // The segment's relocation records; each one read is charged to budget.
    std::vector<NeRelocation> relocations(const NeSegment& segment, WorkBudget& budget,
                                          std::vector<NeDamage>& damage) const;

private:
    NeImage(View view, std::uint32_t offset) : view_(view), ne_(offset) {}

    void listHeader(Output& out) const;
    void listSegments(Output& out) const;
    // Every segment's relocation records, each with the places it patches.
    void listRelocations(Output& out) const;
    void listResources(Output& out) const;
    // The resident and non-resident names, module references and imported names.
    void listNames(Output& out) const;
    void listEntries(Output& out) const;

    std::uint8_t u8(std::uint32_t at) const;
    std::uint16_t u16(std::uint32_t at) const;
    // The file offset of a table, from the header field at `at` that holds
    // it relative to the header.
    std::uint64_t table(std::uint32_t at) const;
    // Where the table at start ends: the next table the header places after
    // it, or the end of the file.
    std::uint64_t tableEnd(std::uint64_t start) const;
    NeNameTable nameTable(std::uint64_t start, std::uint64_t end, std::string_view what) const;
    // The imported name at offset of the imported-names table.
    std::optional<std::string> importedName(std::uint16_t offset) const;
    // "KERNEL.GETVERSION", "KERNEL.3", "0001:0010", "floating point ...".
    std::string targetText(const NeRelocation& relocation, const std::vector<std::string>& modules,
                           const NeEntryTable& entries) const;
    // The places a relocation patches: the chain of offsets in the segment's data.
    std::vector<std::uint16_t> chain(const NeSegment& segment, const NeRelocation& relocation,
                                     WorkBudget& budget, std::vector<NeDamage>& damage) const;

    View view_;
    std::uint32_t ne_;
};

} // namespace tdump
