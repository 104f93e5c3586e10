#pragma once

// Small PE images, COFF objects and archives made byte by byte, so each test
// can corrupt exactly one field of an otherwise valid file.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
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

// Debug records built a field at a time: more bytes, and the low size bytes
// of value, little-endian.
void append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& more);
void appendLittle(std::vector<std::uint8_t>& to, std::uint64_t value, unsigned size);

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

// The sample DLL with a fourth section, .tables, for the tables under test;
// as PE32 for i386 when asked.
class TablesImage {
public:
    static constexpr std::uint32_t tablesRva = 0x4000;
    static constexpr std::size_t tablesRaw = 0xE00;
    static constexpr std::size_t tablesSize = 0x1000;

    enum class Layout { Pe32Plus, Pe32 };

    explicit TablesImage(Layout layout = Layout::Pe32Plus)
        : sample_(makeSampleImage()), pe32_(layout == Layout::Pe32)
    {
        Bytes& b = sample_.bytes;
        const std::size_t header = sample_.sectionTable + std::size_t{3} * 40;
        b.putText(header, ".tables");
        b.put32(header + 8, tablesSize);
        b.put32(header + 12, tablesRva);
        b.put32(header + 16, tablesSize);
        b.put32(header + 20, tablesRaw);
        b.put32(header + 36, 0x40000040);
        b.put16(sample_.peHeader + 6, 4);
        b.put32(sample_.optionalHeader + 56, tablesRva + tablesSize);
        b.put8(tablesRaw + tablesSize - 1, 0);
        if (pe32_) {
            // i386, image base 0x400000, the directories 16 bytes earlier.
            const std::size_t opt = sample_.optionalHeader;
            b.put16(sample_.peHeader + 4, 0x14C);
            b.put16(opt, 0x10B);
            b.put32(opt + 28, static_cast<std::uint32_t>(imageBase()));
            b.put32(opt + 92, 16);
            for (std::size_t i = 0; i < std::size_t{16} * 8; i += 4) {
                b.put32(opt + 96 + i, b.get32(opt + 112 + i));
            }
            b.put64(opt + 224, 0);
            b.put64(opt + 232, 0);
        }
    }

    Bytes& bytes() { return sample_.bytes; }
    const Bytes& bytes() const { return sample_.bytes; }
    std::uint64_t imageBase() const { return pe32_ ? 0x400000 : 0x180000000; }
    // The file offset and the RVA of an offset into .tables.
    static std::size_t at(std::size_t offset) { return tablesRaw + offset; }
    static std::uint32_t rva(std::size_t offset)
    {
        return tablesRva + static_cast<std::uint32_t>(offset);
    }
    std::size_t directoryEntry(std::size_t index) const
    {
        return sample_.optionalHeader + (pe32_ ? 96 : 112) + index * 8;
    }
    void setDirectory(std::size_t index, std::uint32_t rva, std::uint32_t size)
    {
        sample_.bytes.put32(directoryEntry(index), rva);
        sample_.bytes.put32(directoryEntry(index) + 4, size);
    }

private:
    SampleImage sample_;
    bool pe32_;
};

// A resource directory with ID entries (name, target) at an offset into .tables.
void putResourceDirectory(TablesImage& image, std::size_t offset,
                          const std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries);

// The high bit of an entry's target: a subdirectory.
constexpr std::uint32_t subdirectory = 0x80000000u;

// type -> ID 1 -> language 0409 -> data at 0x100 of .tables; the
// directories at 0x00, 0x18 and 0x30, the data entry at 0x48.
void putResourceTree(TablesImage& image, std::uint32_t type, const std::vector<std::uint8_t>& data);

// Text as UTF-16LE with its NUL.
std::vector<std::uint8_t> utf16(std::u16string_view text);

// A block of version information: key, text value (none if empty), children.
std::vector<std::uint8_t> versionBlock(std::u16string_view key, std::u16string_view value,
                                       const std::vector<std::vector<std::uint8_t>>& children);

// The tables image with every table filled: version information, a TLS
// directory with a callback, a load configuration, one exception table entry.
std::vector<std::uint8_t> makeTablesImage();

// A program database with 512-byte blocks: the information stream (GUID
// 00112233-4455-6677-8899-AABBCCDDEEFF, age 3, a named stream /names),
// TPI with one pointer record (0x1000), an empty IPI, DBI for x86-64 with
// one module (pdb_module.obj, stream 6, one source file module.cpp),
// /names (stream 5), the module's symbols, global symbols (counter, stream
// 7), public symbols (main at 0001:00000010, stream 8) and the symbol
// records (stream 9). The superblock, directory and block map sit where
// the fields below say, for corrupting them; every stream starts on a block
// of its own.
struct PdbImage {
    Bytes bytes;
    std::uint32_t blockSize = 0;
    std::size_t directory = 0;         // file offset of the stream directory
    std::size_t blockMap = 0;          // file offset of the block map block
    std::vector<std::size_t> streamAt; // file offset of each stream's first block
    std::size_t directorySize(std::size_t stream) const { return directory + 4 + stream * 4; }
};

PdbImage makePdb();

// An x86-64 object with CodeView debug information. .debug$T holds
//   0x1000 LF_ARGLIST (int), 0x1001 LF_PROCEDURE int (int),
//   0x1002 LF_FIELDLIST (x at 0, y at 4), 0x1003 LF_STRUCTURE Point (8 bytes),
//   0x1004 LF_POINTER to Point, 0x1005 LF_FUNC_ID twice;
// .debug$S a symbols subsection (S_OBJNAME sample.obj, S_GPROC32_ID twice
// of 0x10 bytes with S_FRAMEPROC, S_LOCAL value in RCX with one gap, and
// S_PROC_ID_END), the lines of twice (offset 0: line 3, offset 4: line 4,
// in sample.cpp), the file checksums and the string table. Each part can be
// changed before build().
struct CodeViewObject {
    std::vector<std::uint8_t> symbols;   // symbol records
    std::vector<std::uint8_t> lines;     // the lines subsection's data
    std::vector<std::uint8_t> checksums; // the file checksums subsection's data
    std::vector<std::uint8_t> strings;   // the string table subsection's data
    std::vector<std::uint8_t> types;     // type records, numbered from 0x1000

    // A record: length, kind and payload, padded to four bytes with the
    // bytes 0xF3 0xF2 0xF1, as compilers pad type records.
    static std::vector<std::uint8_t> record(std::uint16_t kind,
                                            const std::vector<std::uint8_t>& payload);
    // The object of the parts: .debug$S, and .debug$T when there are types.
    std::vector<std::uint8_t> build() const;
};

CodeViewObject makeCodeViewObject();

// OMF records, appended one at a time, each with the checksum that makes
// all its bytes add up to 0 (or with 0, which says there is none).
class OmfRecords {
public:
    // Appends a record; returns its offset.
    std::size_t add(std::uint8_t type, const std::vector<std::uint8_t>& contents);
    std::size_t addWithoutChecksum(std::uint8_t type, const std::vector<std::uint8_t>& contents);
    std::vector<std::uint8_t> bytes;
};

// Fields of OMF records: a name (its length, then its characters), an
// index (one byte below 0x80, else two), 16- and 32-bit numbers.
std::vector<std::uint8_t> omfName(std::string_view name);
std::vector<std::uint8_t> omfIndex(std::uint16_t index);
std::vector<std::uint8_t> omfWord(std::uint16_t value);
std::vector<std::uint8_t> omfDword(std::uint32_t value);
std::vector<std::uint8_t> joined(std::initializer_list<std::vector<std::uint8_t>> parts);

// A 16-bit object module "sample.asm":
//   LNAMES [1] "" [2] _TEXT [3] CODE [4] _DATA [5] DATA [6] DGROUP [7] ?inl@@YAXXZ
//   SEGDEF [1] _TEXT (CODE, paragraph, public, use16, 0x20 bytes)
//   SEGDEF32 [2] _DATA (DATA, dword, public, use32, 0x10 bytes)
//   GRPDEF [1] DGROUP: _DATA
//   PUBDEF _TEXT: _main at 0, ?work@@YAHH@Z at 0x10; PUBDEF32 DGROUP _DATA:
//   _counter at 4; EXTDEF [1] _puts [2] _exit; COMDEF [3] _buffer near 16,
//   [4] _table far 4 x 256; LEDATA _TEXT at 0, 16 bytes; FIXUPP: threads
//   frame 1 = F1 DGROUP and target 0 = T0 _DATA, a fixup at 003 through
//   both (+ 4), a self-relative one at 008 to _puts; LIDATA _DATA at 0:
//   repeat 2 of (repeat 3 of "AB", repeat 1 of FF) = 14 bytes; LINNUM;
//   COMDAT ?inl@@YAXXZ (pick any, in _TEXT, 3 bytes); ALIAS _old -> _main;
//   a record of type D0 that no translator writes; MODEND, main, start
//   at _TEXT:0000.
struct OmfSample {
    std::vector<std::uint8_t> bytes;
    // Record offsets, for spoiling them.
    std::size_t pubdef = 0;
    std::size_t fixupp = 0;
    std::size_t lidata = 0;
    std::size_t modend = 0;
};

OmfSample makeOmfObject();

// THEADR, the records given, and MODEND (not a main module).
std::vector<std::uint8_t> makeOmfModule(std::string_view name, const OmfRecords& records);

// A library module: THEADR name, _TEXT with these publics 4 bytes apart.
std::vector<std::uint8_t> makeOmfModule(std::string_view name,
                                        const std::vector<std::string>& publics);

// An import library module: THEADR name, one IMPDEF (by ordinal when
// ordinal is not 0, else by entry name, empty for the same name).
std::vector<std::uint8_t> makeOmfImportModule(std::string_view name, std::string_view dll,
                                              std::string_view entry, std::uint16_t ordinal);

// Where a library's dictionary puts a name, as the published hash has it:
// the block and bucket to try first, and the steps to the next ones.
struct OmfHash {
    unsigned block = 0;
    unsigned blockDelta = 0;
    unsigned bucket = 0;
    unsigned bucketDelta = 0;
};

OmfHash omfDictionaryHash(std::string_view name, unsigned blocks);

struct OmfLibraryModule {
    std::vector<std::uint8_t> bytes;
    std::vector<std::string> publics; // entered in the dictionary
};

// An OMF library: header page, each module on a page boundary, the end
// record padding to 512 bytes, a dictionary of blocks blocks holding each
// module's publics and its name with a '!' after it (as Microsoft's
// librarian enters them), placed by the hash.
struct OmfLibraryImage {
    Bytes bytes;
    std::vector<std::size_t> modules; // offsets
    std::size_t endRecord = 0;
    std::size_t dictionary = 0;
    struct Entry {
        std::string name;
        unsigned block = 0;
        unsigned bucket = 0;
        std::size_t offset = 0; // of the entry, in the file
    };
    std::vector<Entry> entries;
};

OmfLibraryImage makeOmfLibrary(const std::vector<OmfLibraryModule>& modules,
                               std::uint32_t pageSize = 16, std::uint16_t blocks = 3,
                               std::uint8_t flags = 1);

} // namespace tdump::test
