#pragma once

// COFF: the object file format, and the file header, section table and
// symbol table that PE images share with it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bytes.h"
#include "dwarf/dwarf.h"
#include "options.h"
#include "output.h"

namespace tdump {

namespace codeview {
class RelocatedFields;
}

// The machine and symbol storage-class numbers the readers look for.
constexpr std::uint16_t machineI386 = 0x14C;
constexpr std::uint16_t machineArmNt = 0x1C4;
constexpr std::uint16_t machineAmd64 = 0x8664;
constexpr std::uint16_t machineArm64 = 0xAA64;
constexpr std::uint8_t storageClassExternal = 2;
constexpr std::uint8_t storageClassStatic = 3;
constexpr std::uint8_t storageClassFile = 103;

// What the first two fields of an import member or an extended object hold
// where a plain object has its machine and section count.
constexpr std::uint16_t headerSig1 = 0;
constexpr std::uint16_t headerSig2 = 0xFFFF;

// IMAGE_FILE_HEADER, at the start of an object and after the PE signature.
namespace fileHeader {
constexpr std::size_t machine = 0;
constexpr std::size_t numberOfSections = 2;
constexpr std::size_t timeDateStamp = 4;
constexpr std::size_t pointerToSymbolTable = 8;
constexpr std::size_t numberOfSymbols = 12;
constexpr std::size_t sizeOfOptionalHeader = 16;
constexpr std::size_t characteristics = 18;
constexpr std::size_t size = 20;
} // namespace fileHeader

// IMAGE_SYMBOL, a symbol table record; a name of more than eight characters
// is in the string table, and then the record holds zeroes and its offset.
namespace symbolRecord {
constexpr std::size_t shortName = 0;
constexpr std::size_t zeroes = 0;
constexpr std::size_t offset = 4;
constexpr std::size_t value = 8;
constexpr std::size_t sectionNumber = 12;
constexpr std::size_t type = 14;
constexpr std::size_t storageClass = 16;
constexpr std::size_t numberOfAuxSymbols = 17;
constexpr std::uint32_t size = 18;
} // namespace symbolRecord

// IMAGE_SYMBOL_EX, the record of the extended object format: as above with
// a 32-bit section number.
namespace symbolRecordEx {
constexpr std::size_t sectionNumber = 12;
constexpr std::size_t type = 16;
constexpr std::size_t storageClass = 18;
constexpr std::size_t numberOfAuxSymbols = 19;
constexpr std::uint32_t size = 20;
} // namespace symbolRecordEx

// Import lookup table entries, IMAGE_THUNK_DATA32 and IMAGE_THUNK_DATA64;
// the top bit marks an import by ordinal, which is in the low 16 bits.
// Otherwise the entry points at an IMAGE_IMPORT_BY_NAME: a 16-bit hint,
// then the name.
constexpr std::uint64_t thunk32Size = 4;
constexpr std::uint64_t thunk64Size = 8;
constexpr std::uint64_t ordinalFlag32 = std::uint64_t{1} << 31;
constexpr std::uint64_t ordinalFlag64 = std::uint64_t{1} << 63;
constexpr std::uint64_t ordinalMask = 0xFFFF;
namespace importByName {
constexpr std::size_t hint = 0;
constexpr std::size_t name = 2;
} // namespace importByName

struct CoffHeader {
    std::uint16_t machine = 0;
    std::uint32_t sectionCount = 0;
    std::uint32_t timeDateStamp = 0;
    std::uint32_t symbolTableOffset = 0;
    std::uint32_t symbolCount = 0;
    std::uint16_t optionalHeaderSize = 0;
    std::uint16_t characteristics = 0;
    bool bigobj = false; // the extended object format with 32-bit section numbers
    std::uint64_t headerOffset = 0;
    std::uint64_t sectionTableOffset = 0;

    std::uint32_t symbolRecordSize() const
    {
        return bigobj ? symbolRecordEx::size : symbolRecord::size;
    }
};

// The 20-byte file header at offset (of an object, or after "PE\0\0").
std::optional<CoffHeader> readCoffHeader(View view, std::uint64_t offset);
// The header of an object in the extended ("bigobj") format, if view holds one.
std::optional<CoffHeader> readBigObjHeader(View view);
// Whether view plausibly holds a COFF object: a known machine, no optional
// header, and a section table inside the file. The symbol table may be
// broken: that is reported in the listing.
bool looksLikeCoffObject(View view);

enum class SectionDetail { TableOnly, WithRelocationsAndLines };

struct SectionHeader {
    std::string name; // long names resolved through the string table
    std::uint32_t virtualSize = 0;
    std::uint32_t virtualAddress = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t rawPointer = 0;
    std::uint32_t relocPointer = 0;
    std::uint32_t linePointer = 0;
    std::uint16_t relocCount = 0;
    std::uint16_t lineCount = 0;
    std::uint32_t characteristics = 0;
    std::uint64_t headerOffset = 0; // in the view
};

struct Problem {
    std::string what;
    std::uint64_t fileOffset;
};

// An object file, or the COFF part of a PE image. Construction reads the
// section table and locates the string table; what is wrong with them is
// kept as problems, which the section listing reports where they belong.
class CoffFile {
public:
    CoffFile(View view, const CoffHeader& header);

    const CoffHeader& header() const { return header_; }
    const std::vector<SectionHeader>& sections() const { return sections_; }

    void listFileHeader(Output& out, const Options& options) const;
    // The section table; with the detail, also each section's relocations
    // and line numbers, unless -er or -el leaves them out.
    void listSections(Output& out, const Options& options, SectionDetail detail) const;
    void listRelocations(Output& out, const Options& options) const;
    void listSymbols(Output& out, const Options& options) const;
    void listRawContents(Output& out, const Options& options) const;
    // An ARM64 object's function unwind data: the .pdata entries, each named
    // by its function's symbol, and the .xdata records they point at.
    void listUnwindData(Output& out, const Options& options) const;
    // Verifies the checksums that section definition symbols carry.
    void listChecksums(Output& out, const Options& options) const;
    // The debug sections (.debug*) and, for CodeView ones, their records;
    // then the DWARF tables of the DWARF ones.
    void listDebugSections(Output& out, const Options& options) const;
    // The DWARF sections; an image passes its base, which places them at
    // their virtual addresses.
    dwarf::Sections dwarfSections(std::optional<std::uint64_t> imageBase) const;

    // The name of symbol index, or nullopt when it is outside the table.
    std::optional<std::string> symbolName(std::uint32_t index) const;

    struct Symbol {
        std::string name;
        std::uint32_t value = 0;
        std::int32_t section = 0;
        std::uint16_t type = 0;
        std::uint8_t storageClass = 0;
        std::uint8_t auxCount = 0;
    };
    // The symbol record at index, or nullopt when it is outside the table or
    // the file; the auxCount records after it are not symbols.
    std::optional<Symbol> readSymbol(std::uint32_t index) const;

private:
    std::uint64_t symbolOffset(std::uint32_t index) const;
    std::optional<std::string> stringAt(std::uint32_t offset) const;
    std::string sectionName(const std::uint8_t* raw) const;
    std::string sectionLabel(std::int32_t number) const;
    void listAux(Output& out, const Options& options, const Symbol& symbol,
                 std::uint32_t index) const;
    // The index of a section's first relocation record and the count of
    // records; nullopt when the record holding the count lies past the file.
    std::optional<std::pair<std::uint64_t, std::uint64_t>>
    relocationRecords(const SectionHeader& section) const;
    void listSectionRelocations(Output& out, const Options& options,
                                const SectionHeader& section) const;
    // Where a section's relocations point (offsets in the section) and the
    // symbols they name, in the order of the records.
    struct RelocatedField {
        std::uint32_t offset;
        std::uint32_t symbol;
    };
    std::vector<RelocatedField> relocatedSymbols(Output& out, const SectionHeader& section) const;
    // The fields of a debug section that its relocations fill in.
    codeview::RelocatedFields relocatedFields(Output& out, const SectionHeader& section) const;
    void listSectionLines(Output& out, const Options& options, const SectionHeader& section) const;

    View view_;
    CoffHeader header_;
    std::vector<SectionHeader> sections_;
    std::vector<Problem> problems_;
    std::uint64_t stringTableOffset_ = 0;
    std::uint32_t stringTableSize_ = 0; // 0: none usable
};

// The object view holds, recognised as detection recognises one (the
// extended format, or a plausible plain header) and read; nullopt when view
// does not hold one.
std::optional<CoffFile> openCoffObject(View view);

// Checksum of COMDAT section contents: CRC-32 starting from 0, no final inversion.
std::uint32_t sectionCrc(View view, std::uint64_t offset, std::uint32_t size);

// Seconds since 1970 as "YYYY-MM-DD hh:mm:ss UTC".
std::string timeText(std::uint32_t seconds);

} // namespace tdump
