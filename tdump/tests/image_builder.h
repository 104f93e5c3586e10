#pragma once

// Small PE images, COFF objects and archives made byte by byte, so each test
// can corrupt exactly one field of an otherwise valid file.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tdump::test {

// A growable little-endian byte buffer.
class Bytes {
public:
    void put8(std::size_t at, std::uint8_t v);
    void put16(std::size_t at, std::uint16_t v);
    void put32(std::size_t at, std::uint32_t v);
    void put64(std::size_t at, std::uint64_t v);
    void putText(std::size_t at, std::string_view text); // with its NUL
    void append(const std::vector<std::uint8_t>& more);
    std::uint32_t get32(std::size_t at) const;
    std::size_t size() const { return data.size(); }
    std::vector<std::uint8_t> data;
};

// A PE32+ DLL for x86-64 with three sections:
//   .text  RVA 0x1000: code bytes
//   .rdata RVA 0x2000: exports (alpha, ordinal 2 without a name, _Z5gammai,
//          forwarded -> KERNEL32.Sleep), imports (KERNEL32.dll: ExitProcess,
//          GetLastError; msvcrt.dll: ordinal 5, _ZN3foo3barEv), a CodeView
//          debug entry for sample.pdb, delay-load imports (delayed.dll:
//          DelayedFunction)
//   .reloc RVA 0x3000: two blocks of base relocations
// The offsets below are file offsets of the structures, for corrupting them.
struct SampleImage {
    Bytes bytes;
    std::size_t peHeader = 0;
    std::size_t optionalHeader = 0;
    std::size_t sectionTable = 0;
    std::size_t exportDirectory = 0;
    std::size_t exportNamePointers = 0;
    std::size_t importDescriptors = 0;
    std::size_t delayDescriptors = 0;
    std::size_t relocations = 0;
    std::size_t rdataEnd = 0; // end of .rdata's data in the file
    std::size_t dataDirectory(std::size_t index) const { return optionalHeader + 112 + index * 8; }
    std::uint32_t rdataRva(std::size_t fileOffset) const; // the RVA of a file offset in .rdata
};

SampleImage makeSampleImage();

// An x86-64 COFF object: .text with two relocations (to puts and to .data),
// .data, a symbol table with a file symbol, section symbols, an external
// function _ZN6sample4workEi, an undefined puts, and a long section name
// (.debug_info, through the string table).
struct SampleObject {
    Bytes bytes;
    std::size_t sectionTable = 0;
    std::size_t textRelocations = 0;
    std::size_t symbolTable = 0;
    std::size_t stringTable = 0;
    std::uint32_t symbolCount = 0;
};

SampleObject makeSampleObject();

// A COFF object of the given sections and symbols, as the members of
// import libraries made by GNU dlltool and by LLVM's librarians are. Section
// numbers count from 1 (0: undefined); names over eight characters go to the
// string table, which ends the object.
struct ObjectSection {
    std::string name;
    std::vector<std::uint8_t> data;
};
struct ObjectSymbol {
    std::string name;
    std::int16_t section;
    std::uint8_t storageClass;
};
struct BuiltObject {
    Bytes bytes;
    std::size_t symbolTable = 0;
    std::size_t stringTable = 0;
};

BuiltObject makeObject(std::uint16_t machine, const std::vector<ObjectSection>& sections,
                       const std::vector<ObjectSymbol>& symbols);

struct ArchiveMember {
    std::string name;
    std::vector<std::uint8_t> data;
};

// A GNU-style archive: symbol index (names -> members), long name table
// when a name is over 15 characters, then the members.
std::vector<std::uint8_t>
makeArchive(const std::vector<ArchiveMember>& members,
            const std::vector<std::pair<std::string, std::size_t>>& symbols);

// A short import member (the Microsoft import library format).
std::vector<std::uint8_t> makeShortImport(std::string_view symbol, std::string_view dll,
                                          std::uint16_t hint, bool byOrdinal);

} // namespace tdump::test
