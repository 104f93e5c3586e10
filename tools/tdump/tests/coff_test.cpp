// COFF objects and archive libraries: valid ones first, then one broken
// field at a time.

#include <gtest/gtest.h>

#include "image_builder.h"
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
    EXPECT_TRUE(
        Contains(impdef, "LIBRARY     KERNEL32.dll\nEXPORTS\n    ExitProcess\n    Ordinal7 @7\n"));
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

} // namespace
} // namespace tdump::test
