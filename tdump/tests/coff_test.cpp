// COFF objects and archive libraries: valid ones first, then one broken
// field at a time.

#include <gtest/gtest.h>

#include <optional>

#include "image_builder.h"
#include "output.h"
#include "test_support.h"

namespace tdump::test {
namespace {

TEST(CoffListing, HeaderSectionsRelocationsAndSymbols)
{
    const std::string text = listing(makeSampleObject().bytes.data, {});
    EXPECT_TRUE(Contains(text, "Type:     COFF object file, x86-64 (AMD64)\n"));
    EXPECT_TRUE(Contains(text, "     3  .debug_info  "));
    EXPECT_TRUE(Contains(text, "    Relocations of .text: 2\n"
                               "      Offset    Type                      Symbol\n"
                               "      00000003  0004 REL32               [    7] puts\n"
                               "      0000000A  0004 REL32               [    4] .data\n"));
    EXPECT_TRUE(Contains(
        text, "  [     0]  00000000  DEBUG                 0000  103 FILE                1  .file\n"
              "             file name: sample.cpp\n"));
    EXPECT_TRUE(Contains(
        text, "             section definition: length 0x10, 2 relocations, 0 line numbers"));
    EXPECT_TRUE(Contains(
        text, "  [     6]  00000000  1 .text               0020    2 EXTERNAL            0  "
              "sample::work(int)\n"));
    EXPECT_TRUE(Contains(listing(makeSampleObject().bytes.data, {"-m"}), "_ZN6sample4workEi\n"));
    EXPECT_TRUE(reports(text).empty()) << text;
}

TEST(CoffListing, SectionFiltersRawContentsAndRelocationsOnly)
{
    const auto bytes = makeSampleObject().bytes.data;
    const std::string onlyData = listing(bytes, {"-r", "-oi.data"});
    EXPECT_TRUE(Contains(onlyData, "  Section 2 .data: 8 bytes at file offset 0xB0\n"
                                   "000000B0  78 56 34 12 00 00 00 00"));
    EXPECT_TRUE(Lacks(onlyData, "Section 1 .text"));
    const std::string noDebug = listing(bytes, {"-C", "-ox.debug"});
    EXPECT_TRUE(Lacks(noDebug, "  .debug_info  "));
    const std::string relocations = listing(bytes, {"-R"});
    EXPECT_TRUE(Contains(relocations, "Relocations\n-----------\n    Relocations of .text: 2\n"));
    EXPECT_TRUE(Lacks(relocations, "Symbol table"));
    EXPECT_TRUE(Lacks(listing(bytes, {"-er"}), "Relocations of .text"));
    EXPECT_TRUE(Contains(listing(bytes, {"-d"}), "     3  .debug_info              4 bytes\n"));
    EXPECT_TRUE(
        Contains(listing(bytes, {"-e"}),
                 "  -e         no effect on a COFF object file: it is not an executable\n"));
}

TEST(MalformedCoff, SymbolTablePastTheEnd)
{
    auto object = makeSampleObject();
    object.bytes.put32(8, 0x7FFFFFF0);
    const std::string text = listing(object.bytes.data, {});
    EXPECT_TRUE(Contains(text, "** the symbol table offset 2147483632 lies past the end of the "
                               "file (at file offset 0x8)"));
    EXPECT_TRUE(Contains(
        text, "** the symbol table is truncated: record 0 of 8 lies past the end of the file"));
    EXPECT_TRUE(Contains(text, "** symbol index out of range"));
    EXPECT_TRUE(Contains(text, "  .debug_info (string table offset out of range)") ||
                Contains(text, "/22 (string table offset out of range)"));
}

TEST(MalformedCoff, ExtendedObjectSymbolTablePastTheEndIsReportedAtItsOwnField)
{
    // The extended object header: signature 0/0xFFFF, version 2, x86-64,
    // the class identifier; no sections, the symbol table pointer at 48.
    Bytes object;
    object.put16(0, 0);
    object.put16(2, 0xFFFF);
    object.put16(4, 2);
    object.put16(6, 0x8664);
    constexpr std::uint8_t classId[16] = {0xC7, 0xA1, 0xBA, 0xD1, 0xEE, 0xBA, 0xA9, 0x4B,
                                          0xAF, 0x20, 0xFA, 0xF6, 0x6A, 0xA4, 0xDC, 0xB8};
    for (std::size_t i = 0; i < sizeof classId; ++i) {
        object.put8(12 + i, classId[i]);
    }
    object.put32(44, 0);
    object.put32(48, 0x7FFFFFF0);
    object.put32(52, 1);
    const std::string text = listing(object.data, {});
    EXPECT_TRUE(Contains(text, "Type:     COFF object file (extended format), x86-64 (AMD64)\n"));
    EXPECT_TRUE(Contains(text, "** the symbol table offset 2147483632 lies past the end of the "
                               "file (at file offset 0x30)"));
}

TEST(MalformedCoff, RelocationsPastTheEnd)
{
    auto object = makeSampleObject();
    object.bytes.put32(object.sectionTable + 24,
                       static_cast<std::uint32_t>(object.bytes.size() - 12));
    const std::string text = listing(object.bytes.data, {});
    EXPECT_TRUE(Contains(
        text,
        "** the relocations of .text are truncated: record 1 of 2 lies past the end of the file"));
    EXPECT_TRUE(Contains(text, "sample::work(int)")); // the symbols still follow
}

TEST(MalformedCoff, RelocationCountOverflowRecord)
{
    auto object = makeSampleObject();
    // LNK_NRELOC_OVFL: the count moves into the first record, which counts itself.
    object.bytes.put32(object.sectionTable + 36, 0x60500020 | 0x01000000);
    object.bytes.put16(object.sectionTable + 32, 0xFFFF);
    object.bytes.put32(object.textRelocations, 2);
    const std::string text = listing(object.bytes.data, {"-R"});
    EXPECT_TRUE(Contains(text, "    Relocations of .text: 1\n"));
    EXPECT_TRUE(Contains(text, "[    4] .data\n"));
}

TEST(MalformedCoff, AuxiliaryRecordsBeyondTheTableAndLongNamesOutOfRange)
{
    auto object = makeSampleObject();
    object.bytes.put8(object.symbolTable + std::size_t{7} * 18 + 17, 200);
    object.bytes.put32(object.symbolTable + std::size_t{6} * 18 + 4, 5000);
    const std::string text = listing(object.bytes.data, {});
    EXPECT_TRUE(Contains(text, "** symbol 7 claims more auxiliary records than the table has"));
    EXPECT_TRUE(Contains(text, "(name at string table offset 5000 out of range)"));
}

TEST(MalformedCoff, StringTableSizeBeyondTheFile)
{
    auto object = makeSampleObject();
    object.bytes.put32(object.stringTable, 0x10000000);
    const std::string text = listing(object.bytes.data, {});
    EXPECT_TRUE(Contains(text, "** the string table size 268435456 does not fit the file"));
    EXPECT_TRUE(Contains(text, "sample::work(int)"));
}

TEST(CoffChecksums, ComdatChecksumsAreVerified)
{
    auto object = makeSampleObject();
    // .text: sixteen NOPs; CRC-32 from 0 without final inversion.
    EXPECT_TRUE(Contains(listing(object.bytes.data, {"-oc"}), "(no section carries a checksum)"));
    object.bytes.put32(object.symbolTable + std::size_t{3} * 18 + 8, 0x12345678);
    const std::string text = listing(object.bytes.data, {"-oc"});
    EXPECT_TRUE(Contains(text, "stored 12345678  computed "));
    EXPECT_TRUE(Contains(text, "** MISMATCH"));
}

std::vector<std::uint8_t> sampleArchive()
{
    return makeArchive({{"sample.o", makeSampleObject().bytes.data},
                        {"a_member_with_a_long_name.o", makeSampleObject().bytes.data},
                        {"imp.o", makeShortImport("ExitProcess", "KERNEL32.dll", 0x120, false)},
                        {"ord.o", makeShortImport("Ordinal7", "KERNEL32.dll", 7, true)}},
                       {{"_ZN6sample4workEi", 0}, {"ExitProcess", 2}, {"__imp_ExitProcess", 2}});
}

TEST(ArchiveListing, MembersAndSymbolIndex)
{
    const std::string text = listing(sampleArchive(), {});
    EXPECT_TRUE(Contains(text, "Type:     archive library\n"));
    EXPECT_TRUE(Contains(text, "COFF object              sample.o\n"));
    EXPECT_TRUE(Contains(text, "COFF object              a_member_with_a_long_name.o\n"));
    EXPECT_TRUE(Contains(text, "import (short)           imp.o\n"));
    EXPECT_TRUE(
        Contains(text, "  3 symbols\n  sample::work(int)                         sample.o\n"));
    EXPECT_TRUE(Contains(text, "  __imp_ExitProcess                         imp.o\n"));
    EXPECT_TRUE(reports(text).empty()) << text;
}

TEST(ArchiveListing, EachMemberAsCoffAndImportDefinitions)
{
    const auto bytes = sampleArchive();
    const std::string members = listing(bytes, {"-C"});
    EXPECT_TRUE(Contains(members, "==== Member 5: imp.o"));
    EXPECT_TRUE(Contains(
        members, "  Import object: x86-64 (AMD64), code, by name\n    symbol   ExitProcess\n"));
    EXPECT_TRUE(Contains(members, "==== Member 4: a_member_with_a_long_name.o"));
    const std::string impdef = listing(bytes, {"-li"});
    EXPECT_TRUE(Contains(
        impdef, "LIBRARY     KERNEL32.dll\nEXPORTS\n    ExitProcess\n    Ordinal7 @7 NONAME\n"));
    EXPECT_TRUE(Lacks(listing(bytes, {"-li=exit"}), "Ordinal7"));
}

TEST(MalformedArchive, MemberRunningPastTheEnd)
{
    auto bytes = sampleArchive();
    bytes.resize(bytes.size() - 30);
    const std::string text = listing(bytes, {"-l"});
    EXPECT_TRUE(Contains(
        text, "** member ord.o claims 42 bytes, past the end of the file (at file offset 0x49C)"));
    EXPECT_TRUE(Contains(text, "imp.o\n"));
}

TEST(MalformedArchive, BrokenHeaderAndSymbolCount)
{
    auto bytes = sampleArchive();
    bytes[8 + 58] = 'x'; // the index header's closing "`\n"
    EXPECT_TRUE(Contains(listing(bytes, {"-l"}),
                         "** the member header does not end in `\\n (at file offset 0x8)"));
    bytes = sampleArchive();
    bytes[8 + 60] = 0x7F; // a symbol count far beyond the index
    EXPECT_TRUE(Contains(listing(bytes, {"-l"}), "does not fit in the index"));
}

// Every switch on every truncation of the archive: always a whole listing.
TEST(MalformedArchive, EverySwitchSurvivesTruncation)
{
    const auto whole = sampleArchive();
    for (std::size_t size = 8; size < whole.size(); size += 37) {
        const std::vector<std::uint8_t> cut(whole.begin(),
                                            whole.begin() + static_cast<std::ptrdiff_t>(size));
        for (const std::vector<std::string>& switches :
             {std::vector<std::string>{}, {"-C", "-R", "-r", "-oc", "-d"}, {"-li", "-v"}}) {
            EXPECT_TRUE(Contains(listing(cut, switches), "tdump listing")) << size;
        }
    }
}

// A file name too long for the auxiliary records: GNU tools keep it in the
// string table and write the offset where a symbol would.
SampleObject withLongFileName(std::uint32_t* nameOffset)
{
    auto object = makeSampleObject();
    const std::string name = "a_source_file_with_a_long_name.cpp";
    const std::uint32_t offset = object.bytes.get32(object.stringTable);
    const std::size_t aux = object.symbolTable + 18;
    for (std::size_t k = 0; k < 18; ++k) {
        object.bytes.put8(aux + k, 0);
    }
    object.bytes.put32(aux + 4, offset);
    object.bytes.putText(object.stringTable + offset, name);
    object.bytes.put32(object.stringTable, offset + static_cast<std::uint32_t>(name.size()) + 1);
    *nameOffset = offset;
    return object;
}

// Escape sequences in a file or symbol name never reach the terminal.
TEST(CoffListing, ControlCharactersInNamesAreWrittenEscaped)
{
    auto object = makeSampleObject();
    object.bytes.putText(object.symbolTable + 18, "a\x1b]0;x\x07.c");
    const std::string text = listing(object.bytes.data, {});
    EXPECT_TRUE(Contains(text, "             file name: a\\x1b]0;x\\x07.c\n"));
    EXPECT_TRUE(Lacks(text, "\x1b"));
    EXPECT_TRUE(Lacks(text, "\x07"));
}

TEST(CoffListing, LongFileNameFromTheStringTable)
{
    std::uint32_t offset = 0;
    const std::string text = listing(withLongFileName(&offset).bytes.data, {});
    EXPECT_TRUE(Contains(text, "  103 FILE                1  .file\n"
                               "             file name: a_source_file_with_a_long_name.cpp\n"));
    EXPECT_TRUE(reports(text).empty()) << text;
}

TEST(MalformedCoff, LongFileNameOffsetPastTheStringTable)
{
    std::uint32_t offset = 0;
    auto object = withLongFileName(&offset);
    object.bytes.put32(object.symbolTable + 18 + 4, 5000);
    const std::string text = listing(object.bytes.data, {});
    EXPECT_TRUE(Contains(text, "             file name: \n"
                               "  ** the file name's string table offset 5000 is out of range "
                               "(at file offset 0x" +
                                   toHex(object.symbolTable + 18 + 4) + ")\n"));
    EXPECT_TRUE(Contains(text, "sample::work(int)")); // the symbols after it still follow
}

// Import libraries as the librarians write them, for -li.
constexpr std::uint16_t machineAmd64 = 0x8664;
constexpr std::uint16_t machineI386 = 0x14C;
constexpr std::uint8_t external = 2;
constexpr std::uint8_t staticClass = 3;
// Fields of a short import header.
constexpr std::size_t importMachine = 6;
constexpr std::size_t importTypeBits = 18;
constexpr std::uint16_t byNameWithoutPrefix = 2u << 2;

std::vector<std::uint8_t> bytesOf(std::string_view text)
{
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

std::vector<std::uint8_t> lookupEntry(std::uint64_t value, std::size_t width)
{
    Bytes entry;
    if (width == 8) {
        entry.put64(0, value);
    } else {
        entry.put32(0, static_cast<std::uint32_t>(value));
    }
    return entry.data;
}

// LLVM's librarians: an import descriptor member, whose .idata$6 holds the
// DLL name, then one short member per import.
std::vector<std::uint8_t> descriptorMember(std::string_view dll)
{
    return makeObject(machineAmd64,
                      {{".idata$2", std::vector<std::uint8_t>(20)}, {".idata$6", bytesOf(dll)}},
                      {{"__IMPORT_DESCRIPTOR_tdimports", 1, external},
                       {".idata$2", 1, staticClass},
                       {".idata$6", 2, staticClass},
                       {"__NULL_IMPORT_DESCRIPTOR", 0, external},
                       {"tdimports_NULL_THUNK_DATA", 0, external}})
        .bytes.data;
}

std::vector<std::uint8_t> llvmImportLibrary(const std::vector<std::uint8_t>& descriptor)
{
    const std::vector<std::uint8_t> nullThunk =
        makeObject(machineAmd64,
                   {{".idata$5", std::vector<std::uint8_t>(8)},
                    {".idata$4", std::vector<std::uint8_t>(8)}},
                   {{"tdimports_NULL_THUNK_DATA", 1, external}})
            .bytes.data;
    return makeArchive({{"tdimports.dll", descriptor},
                        {"tdimports.dll", nullThunk},
                        {"tdimports.dll", makeShortImport("imp_first", "tdimports.dll", 1, false)},
                        {"tdimports.dll", makeShortImport("imp_hidden", "tdimports.dll", 2, true)}},
                       {{"__IMPORT_DESCRIPTOR_tdimports", 0}, {"__imp_imp_first", 2}});
}

TEST(ImportLibrary, ShortFormatNamesEachDllOnce)
{
    const std::string text = listing(llvmImportLibrary(descriptorMember("tdimports.dll")), {"-li"});
    EXPECT_TRUE(Contains(text, "--\nLIBRARY     tdimports.dll\nEXPORTS\n"
                               "    imp_first\n    imp_hidden @2 NONAME\n"));
    EXPECT_TRUE(Lacks(text, "DLL name not found"));
    EXPECT_TRUE(reports(text).empty()) << text;
}

TEST(MalformedImportLibrary, TruncatedShortMemberAndUnterminatedDllName)
{
    auto truncated = makeShortImport("imp_cut", "tdimports.dll", 3, false);
    truncated.resize(truncated.size() - 6);
    const auto library =
        makeArchive({{"tdimports.dll", truncated},
                     {"tdimports.dll", makeShortImport("imp_first", "tdimports.dll", 1, false)}},
                    {});
    const std::string text = listing(library, {"-li"});
    EXPECT_TRUE(Contains(text, "** the import data size 22 runs past the end of the member"));
    EXPECT_TRUE(Contains(text, "** the import names are missing or not terminated"));
    EXPECT_TRUE(Contains(text, "LIBRARY     tdimports.dll\nEXPORTS\n    imp_first\n"));

    auto descriptor = descriptorMember("tdimports.dll");
    // The DLL name's NUL, after the header, two section headers and .idata$2.
    descriptor[20 + 2 * 40 + 20 + std::string_view("tdimports.dll").size()] = 'X';
    const std::string unterminated = listing(llvmImportLibrary(descriptor), {"-li"});
    EXPECT_TRUE(Contains(unterminated, "** the import descriptor's DLL name is empty or not "
                                       "terminated"));
    EXPECT_TRUE(Contains(unterminated, "LIBRARY     tdimports.dll\nEXPORTS\n    imp_first\n"));
}

// GNU dlltool: a tail member holding the DLL name in .idata$7, a head with
// the descriptor, one object per import; one imported by ordinal (NONAME)
// has no hint and name, only its __imp_ symbol.
std::vector<std::uint8_t> gnuStub(std::uint16_t machine, std::string_view symbol,
                                  std::optional<std::uint16_t> ordinal, bool data)
{
    const std::size_t width = machine == machineI386 ? 4 : 8;
    const std::string pointer = "__imp_" + std::string(symbol);
    std::vector<ObjectSection> sections;
    std::vector<ObjectSymbol> symbols;
    if (!data) {
        sections.push_back({".text", {0xFF, 0x25, 0, 0, 0, 0, 0x90, 0x90}});
        symbols.push_back({std::string(symbol), 1, external});
    }
    const std::uint64_t flag = std::uint64_t{1} << (width * 8 - 1);
    const auto entry = lookupEntry(ordinal ? flag | *ordinal : 0, width);
    sections.push_back({".idata$7", std::vector<std::uint8_t>(4)});
    sections.push_back({".idata$5", entry});
    sections.push_back({".idata$4", entry});
    symbols.push_back({pointer, static_cast<std::int16_t>(sections.size() - 1), external});
    if (!ordinal) {
        std::vector<std::uint8_t> hintName = {1, 0};
        const std::string exported(machine == machineI386 ? symbol.substr(1) : symbol);
        hintName.insert(hintName.end(), exported.begin(), exported.end());
        hintName.push_back(0);
        sections.push_back({".idata$6", hintName});
    }
    symbols.push_back({"_head_libtdimports_a", 0, external});
    return makeObject(machine, sections, symbols).bytes.data;
}

std::vector<std::uint8_t> gnuImportLibrary(std::uint16_t machine,
                                           const std::vector<ArchiveMember>& stubs)
{
    std::vector<ArchiveMember> members = {
        {"libtdimports_a_t.o", makeObject(machine, {{".idata$7", bytesOf("tdimports.dll")}},
                                          {{"__libtdimports_a_iname", 1, external}})
                                   .bytes.data},
        {"libtdimports_a_h.o", makeObject(machine, {{".idata$2", std::vector<std::uint8_t>(20)}},
                                          {{"_head_libtdimports_a", 1, external},
                                           {"__libtdimports_a_iname", 0, external}})
                                   .bytes.data}};
    members.insert(members.end(), stubs.begin(), stubs.end());
    return makeArchive(members, {});
}

TEST(ImportLibrary, GnuNonameImportsKeepTheirNames)
{
    const auto library =
        gnuImportLibrary(machineAmd64, {{"s1.o", gnuStub(machineAmd64, "imp_first", {}, false)},
                                        {"s2.o", gnuStub(machineAmd64, "imp_hidden", 2, false)},
                                        {"s3.o", gnuStub(machineAmd64, "imp_secret", 5, true)}});
    const std::string text = listing(library, {"-li"});
    EXPECT_TRUE(Contains(text, "LIBRARY     tdimports.dll\nEXPORTS\n    imp_first\n"
                               "    imp_hidden @2 NONAME\n    imp_secret @5 NONAME DATA\n"));
    EXPECT_TRUE(reports(text).empty()) << text;
    const std::string filtered = listing(library, {"-li=SECRET"});
    EXPECT_TRUE(Contains(filtered, "EXPORTS\n    imp_secret @5 NONAME DATA\n"));
    EXPECT_TRUE(Lacks(filtered, "imp_first"));
    EXPECT_TRUE(Lacks(filtered, "imp_hidden"));
    EXPECT_TRUE(
        Contains(listing(library, {"-li=nosuchname"}), "  (no import matches \"nosuchname\")\n"));
}

TEST(MalformedImportLibrary, NonameImportWithoutItsSymbolName)
{
    auto stub = gnuStub(machineAmd64, "imp_hidden", 2, false);
    // The __imp_ symbol (the second) gets a name past the string table.
    Bytes b;
    b.data = std::move(stub);
    b.put32(b.get32(8) + 18 + 4, 5000);
    const std::string text = listing(gnuImportLibrary(machineAmd64, {{"s2.o", b.data}}), {"-li"});
    EXPECT_TRUE(Contains(text, "** no __imp_ symbol names the import by ordinal 2"));
    EXPECT_TRUE(Contains(text, "LIBRARY     tdimports.dll\nEXPORTS\n    @2 NONAME\n"));
}

// 32-bit libraries keep decorated symbols; every line shows the name the
// DLL exports, imports by ordinal included.
TEST(ImportLibrary, I386NamesAreUndecoratedAlike)
{
    const std::string gnu = listing(
        gnuImportLibrary(machineI386, {{"s1.o", gnuStub(machineI386, "_std_call@8", {}, false)},
                                       {"s2.o", gnuStub(machineI386, "_hidden32", 5, false)},
                                       {"s3.o", gnuStub(machineI386, "__fast_call@4", {}, false)}}),
        {"-li"});
    EXPECT_TRUE(Contains(gnu, "EXPORTS\n    std_call@8\n    hidden32 @5 NONAME\n"
                              "    _fast_call@4\n"));
    const auto i386 = [](std::vector<std::uint8_t> member, std::uint16_t typeBits) {
        Bytes b;
        b.data = std::move(member);
        b.put16(importMachine, machineI386);
        b.put16(importTypeBits, typeBits);
        return b.data;
    };
    const std::string llvm = listing(
        makeArchive(
            {{"imp32.dll", i386(makeShortImport("_cdecl_call", "tdimports32.dll", 1, false),
                                byNameWithoutPrefix)},
             {"imp32.dll", i386(makeShortImport("__fast_call@4", "tdimports32.dll", 3, false),
                                byNameWithoutPrefix)},
             {"imp32.dll", i386(makeShortImport("_hidden32", "tdimports32.dll", 5, true), 0)}},
            {}),
        {"-li"});
    EXPECT_TRUE(Contains(llvm, "EXPORTS\n    cdecl_call\n    _fast_call@4\n"
                               "    hidden32 @5 NONAME\n"));
}

} // namespace
} // namespace tdump::test
