// PE listings of a synthesised DLL: first whole, then with one field broken
// at a time. A broken table must be reported where it is, and the listing
// must go on with everything else.

#include <gtest/gtest.h>

#include <algorithm>

#include "bytes.h"
#include "dump.h"
#include "image_builder.h"
#include "options.h"
#include "output.h"
#include "test_support.h"

namespace tdump::test {
namespace {

TEST(PeListing, DefaultDisplayShowsHeadersTablesAndNoReports)
{
    const std::string text = listing(makeSampleImage().bytes.data, {});
    EXPECT_TRUE(Contains(text, "Type:     PE32+ image (DLL), x86-64 (AMD64)"));
    EXPECT_TRUE(Contains(text, "Display:  the default for a PE image"));
    EXPECT_TRUE(Contains(text, "New header offset (e_lfanew)  00000080"));
    EXPECT_TRUE(Contains(text, "Image base                    0000000180000000"));
    EXPECT_TRUE(Contains(text, "Base relocation   00003000  00000018  .reloc"));
    EXPECT_TRUE(Contains(text, "     2  .rdata  "));
    EXPECT_TRUE(
        Contains(text, "PDB signature {11223344-0000-0000-0000-000000000000}, age 7, sample.pdb"));
    EXPECT_TRUE(Contains(text, "  00001000  0000000C        2\n"));
    EXPECT_TRUE(Contains(text, "2 blocks, 4 entries"));
    EXPECT_TRUE(reports(text).empty()) << text;
}

TEST(PeListing, ExportsByOrdinalWithNamesForwardersAndDemangling)
{
    const auto bytes = makeSampleImage().bytes.data;
    const std::string text = listing(bytes, {"-ee"});
    EXPECT_TRUE(Contains(text, "DLL name sample.dll, ordinal base 1, 4 functions, 3 names"));
    EXPECT_TRUE(Contains(text, "        1  00001000  alpha\n"
                               "        2  00001010  (by ordinal only)\n"
                               "        3  00001020  gamma(int)\n"
                               "        4  000020C0  forwarded  -> KERNEL32.Sleep\n"));
    EXPECT_TRUE(Contains(listing(bytes, {"-ee", "-m"}), "        3  00001020  _Z5gammai\n"));
    const std::string filtered = listing(bytes, {"-ee=GAM"});
    EXPECT_TRUE(Contains(filtered, "gamma(int)"));
    EXPECT_TRUE(Lacks(filtered, "alpha"));
    EXPECT_TRUE(Contains(filtered, "1 export(s) match \"GAM\""));
    EXPECT_TRUE(Contains(listing(bytes, {"-li"}),
                         "LIBRARY     sample.dll\nEXPORTS\n"
                         "    alpha                            @1\n"
                         "                                     @2 NONAME\n"));
}

TEST(PeListing, ImportsModulesAndFilters)
{
    const auto bytes = makeSampleImage().bytes.data;
    const std::string text = listing(bytes, {"-em"});
    EXPECT_TRUE(Contains(text, "  Module KERNEL32.dll\n"));
    EXPECT_TRUE(Contains(text, "    0120  ExitProcess\n    0200  GetLastError\n"));
    EXPECT_TRUE(Contains(text, "          ordinal 5\n    0007  foo::bar()\n"));
    const std::string modules = listing(bytes, {"-em."});
    EXPECT_TRUE(
        Contains(modules, "Imported modules\n----------------\n  KERNEL32.dll\n  msvcrt.dll\n"));
    EXPECT_TRUE(Lacks(modules, "ExitProcess"));
    const std::string oneModule = listing(bytes, {"-em.msv"});
    EXPECT_TRUE(Contains(oneModule, "  msvcrt.dll\n"));
    EXPECT_TRUE(Lacks(oneModule, "KERNEL32"));
    const std::string oneFunction = listing(bytes, {"-em=lasterror"});
    EXPECT_TRUE(Contains(oneFunction, "GetLastError"));
    EXPECT_TRUE(Lacks(oneFunction, "ExitProcess"));
}

// Under a filter a module is headed only when something of it is shown: an
// entry, or all of it when its own name matches.
TEST(PeListing, FiltersLeaveOutModulesWithNothingMatching)
{
    const auto bytes = makeSampleImage().bytes.data;
    const std::string oneFunction = listing(bytes, {"-em=lasterror"});
    EXPECT_TRUE(Contains(oneFunction, "  Module KERNEL32.dll\n"));
    EXPECT_TRUE(Lacks(oneFunction, "msvcrt.dll"));
    EXPECT_TRUE(Lacks(oneFunction, "delayed.dll"));
    const std::string delayed = listing(bytes, {"-em=delayedfunc"});
    EXPECT_TRUE(Contains(delayed, "  Module delayed.dll (delay-loaded)\n"));
    EXPECT_TRUE(Contains(delayed, "    0003  DelayedFunction\n"));
    EXPECT_TRUE(Lacks(delayed, "KERNEL32.dll"));
    EXPECT_TRUE(Lacks(delayed, "msvcrt.dll"));
    const std::string wholeModule = listing(bytes, {"-em=msvcrt"});
    EXPECT_TRUE(Contains(wholeModule, "  Module msvcrt.dll\n"));
    EXPECT_TRUE(Contains(wholeModule, "          ordinal 5\n    0007  foo::bar()\n"));
    EXPECT_TRUE(Lacks(wholeModule, "KERNEL32.dll"));
    const std::string none = listing(bytes, {"-em=nosuchname"});
    EXPECT_TRUE(Lacks(none, "  Module "));
    EXPECT_TRUE(Lacks(none, "Hint  Name"));
    const std::string noExport = listing(bytes, {"-li=nosuchname"});
    EXPECT_TRUE(Lacks(noExport, "LIBRARY"));
    EXPECT_TRUE(Contains(noExport, "  (no export matches \"nosuchname\")\n"));
    EXPECT_TRUE(
        Contains(listing(bytes, {"-ee=nosuchname"}), "  0 export(s) match \"nosuchname\"\n"));
}

// A name is one piece of one line, whatever bytes the file gives it: no
// line can be forged, no escape sequence reaches the terminal.
TEST(PeListing, NamesAreWrittenWithControlCharactersAndStrayBytesEscaped)
{
    auto image = makeSampleImage();
    image.bytes.putText(image.exportDirectory + 0x100, "sample.dll\nLIBRARY forged");
    image.bytes.putText(image.exportDirectory + 0x90, "al\x1b[2Jpha");
    image.bytes.putText(image.importDescriptors + 0x150, "msvcrt\r\n\xff.dll");
    const std::string exports = listing(image.bytes.data, {"-ee"});
    EXPECT_TRUE(Contains(exports, "DLL name sample.dll\\x0aLIBRARY forged, ordinal base 1"));
    EXPECT_TRUE(Contains(exports, "  al\\x1b[2Jpha\n"));
    EXPECT_TRUE(Contains(listing(image.bytes.data, {"-li"}),
                         "LIBRARY     sample.dll\\x0aLIBRARY forged\nEXPORTS\n"));
    const std::string imports = listing(image.bytes.data, {"-em"});
    EXPECT_TRUE(Contains(imports, "  Module msvcrt\\x0d\\x0a\\xff.dll\n"));
    for (const std::string& text : {exports, imports}) {
        EXPECT_TRUE(Lacks(text, "\nLIBRARY forged"));
        EXPECT_TRUE(Lacks(text, "\x1b"));
        EXPECT_TRUE(Lacks(text, "\r"));
    }
}

TEST(Names, PrintableKeepsTextAndUtf8AndEscapesEverythingElse)
{
    EXPECT_EQ(printable("C:\\src\\a b.c"), "C:\\src\\a b.c");
    // UTF-8 (this file's literals are code page 932, so its bytes are spelled out).
    EXPECT_EQ(printable("\xe6\x97\xa5\xe6\x9c\xac.dll"), "\xe6\x97\xa5\xe6\x9c\xac.dll");
    EXPECT_EQ(printable(std::string("a\0b\tc\x7f", 6)), "a\\x00b\\x09c\\x7f");
    EXPECT_EQ(printable("\xc2\x9b"
                        "2J"),
              "\\xc2\\x9b"
              "2J");                                         // C1 control (CSI)
    EXPECT_EQ(printable("\xc0\x80"), "\\xc0\\x80");          // overlong NUL
    EXPECT_EQ(printable("\xed\xa0\x80"), "\\xed\\xa0\\x80"); // a surrogate
    EXPECT_EQ(printable("\xe6\x97"), "\\xe6\\x97");          // cut short
    EXPECT_EQ(printable("\x83\x5c"), "\\x83\\");             // code page 932 ソ
}

TEST(PeListing, DelayLoadImportsByRvaOrByAddress)
{
    auto image = makeSampleImage();
    const std::string byRva = listing(image.bytes.data, {"-em"});
    EXPECT_TRUE(Contains(byRva, "  Module delayed.dll (delay-loaded)\n"));
    EXPECT_TRUE(Contains(byRva, "    0003  DelayedFunction\n"));
    EXPECT_TRUE(Contains(listing(image.bytes.data, {"-em."}), "  delayed.dll  (delay-loaded)\n"));
    // Old images hold virtual addresses instead (attribute bit 0 clear).
    image.bytes.put32(image.delayDescriptors, 0);
    for (const std::size_t field :
         {std::size_t{4}, std::size_t{8}, std::size_t{12}, std::size_t{16}}) {
        const std::size_t at = image.delayDescriptors + field;
        image.bytes.put32(at, image.bytes.get32(at) + 0x80000000u);
    }
    image.bytes.put32(image.optionalHeader + 24, 0x80000000u); // image base
    image.bytes.put32(image.optionalHeader + 28, 0);
    image.bytes.put64(image.delayDescriptors + 0x40,
                      0x80000000u + image.rdataRva(image.delayDescriptors + 0xA0));
    const std::string byAddress = listing(image.bytes.data, {"-em"});
    EXPECT_TRUE(Contains(byAddress, "  Module delayed.dll (delay-loaded)\n"));
    EXPECT_TRUE(Contains(byAddress, "addresses are VAs"));
    EXPECT_TRUE(Contains(byAddress, "    0003  DelayedFunction\n"));
}

TEST(PeListing, RelocationEntriesAndExecutableTables)
{
    const auto bytes = makeSampleImage().bytes.data;
    const std::string relocs = listing(bytes, {"-R"});
    EXPECT_TRUE(Contains(relocs, "  Page 00001000, block size 12, 2 entries\n"
                                 "    008  00001008  DIR64\n"
                                 "    010  00001010  DIR64\n"));
    EXPECT_TRUE(Contains(relocs, "    000  00002000  ABSOLUTE\n"));
    const std::string headersOnly = listing(bytes, {"-eiHDR"});
    EXPECT_TRUE(Contains(headersOnly, "Optional header"));
    EXPECT_TRUE(Lacks(headersOnly, "Section table"));
    EXPECT_TRUE(Lacks(headersOnly, "Exports"));
    const std::string sectionsOnly = listing(bytes, {"-eiobj"});
    EXPECT_TRUE(Contains(sectionsOnly, "Section table"));
    EXPECT_TRUE(Lacks(sectionsOnly, "Optional header"));
    const std::string leftOut = listing(bytes, {"-ed", "-er"});
    EXPECT_TRUE(Lacks(leftOut, "Debug directory"));
    EXPECT_TRUE(Lacks(leftOut, "Base relocations"));
    EXPECT_TRUE(Contains(leftOut, "Exports"));
    const std::string dosOnly = listing(bytes, {"-ex"});
    EXPECT_TRUE(Contains(dosOnly, "MS-DOS header"));
    EXPECT_TRUE(Lacks(dosOnly, "Optional header"));
}

TEST(PeListing, DebugDirectoryByTableLetters)
{
    const auto bytes = makeSampleImage().bytes.data;
    EXPECT_TRUE(Contains(listing(bytes, {"-d"}), " 2 CODEVIEW"));
    EXPECT_TRUE(Contains(listing(bytes, {"-ia"}), " 2 CODEVIEW"));
    EXPECT_TRUE(Lacks(listing(bytes, {"-xa"}), "Debug directory"));
    EXPECT_TRUE(Contains(listing(bytes, {"-iID"}), " 2 CODEVIEW"));
}

TEST(PeListing, ChecksumIsComputedOverTheFile)
{
    auto image = makeSampleImage();
    const std::string unset = listing(image.bytes.data, {"-oc"});
    EXPECT_TRUE(Contains(unset, "(not set)"));
    // Sum of the 16-bit words of the file (the field counting as 0), folded,
    // plus the length.
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < image.bytes.size(); i += 2) {
        const std::uint32_t high = i + 1 < image.bytes.size() ? image.bytes.data[i + 1] : 0u;
        sum += image.bytes.data[i] | (high << 8);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    const auto expected = static_cast<std::uint32_t>((sum & 0xFFFF) + image.bytes.size());
    image.bytes.put32(image.optionalHeader + 64, expected);
    EXPECT_TRUE(Contains(listing(image.bytes.data, {"-oc"}), "  ok\n"));
    image.bytes.put32(image.optionalHeader + 64, expected + 1);
    EXPECT_TRUE(Contains(listing(image.bytes.data, {"-oc"}), "** MISMATCH"));
}

TEST(MalformedPe, TruncatedInsideTheFileHeader)
{
    auto image = makeSampleImage();
    image.bytes.data.resize(image.peHeader + 10);
    const std::string text = listing(image.bytes.data, {});
    EXPECT_TRUE(Contains(text, "** the COFF file header after the PE signature is truncated " +
                                   hexOffset(0x84)));
    EXPECT_TRUE(Contains(text, "MS-DOS header"));
}

TEST(MalformedPe, TruncatedInsideTheOptionalHeader)
{
    auto image = makeSampleImage();
    image.bytes.data.resize(image.optionalHeader + 50);
    const std::string text = listing(image.bytes.data, {});
    EXPECT_TRUE(Contains(
        text, "** the optional header ends before Minor subsystem version (50 of the 240 bytes"));
    EXPECT_TRUE(Contains(
        text, "** the section table is truncated: section 1 of 3 lies past the end of the file"));
    EXPECT_TRUE(Contains(text, "(no export directory)"));
}

TEST(MalformedPe, DirectoryRvaOutsideTheImage)
{
    auto image = makeSampleImage();
    image.bytes.put32(image.dataDirectory(0), 0x90000);
    const std::string text = listing(image.bytes.data, {});
    EXPECT_TRUE(Contains(
        text, "** the Export directory: RVA 0x90000 lies outside every section and the headers " +
                  hexOffset(image.dataDirectory(0))));
    EXPECT_TRUE(Contains(text, "  Module KERNEL32.dll")); // the imports still follow
}

TEST(MalformedPe, ExportNamePointerPastTheEnd)
{
    auto image = makeSampleImage();
    image.bytes.put32(image.exportNamePointers + 4, 0x7FFFFFF0);
    const std::string text = listing(image.bytes.data, {"-ee"});
    EXPECT_TRUE(Contains(
        text,
        "** the name of export 1: RVA 0x7FFFFFF0 lies outside every section and the headers " +
            hexOffset(image.exportNamePointers + 4)));
    EXPECT_TRUE(Contains(text, "gamma(int)"));
    EXPECT_TRUE(Contains(text, "forwarded  -> KERNEL32.Sleep"));
}

TEST(MalformedPe, NameInTheZeroFilledTailOfASection)
{
    auto image = makeSampleImage();
    // .rdata has 0x600 bytes in the file and 0x800 in memory.
    image.bytes.put32(image.importDescriptors + 12, 0x2700);
    const std::string text = listing(image.bytes.data, {"-em"});
    EXPECT_TRUE(Contains(
        text, "** the module name: RVA 0x2700 lies in section .rdata beyond the data in the file " +
                  hexOffset(image.importDescriptors + 12)));
    EXPECT_TRUE(Contains(text, "ExitProcess"));
    EXPECT_TRUE(Contains(text, "  Module msvcrt.dll"));
}

TEST(MalformedPe, UnterminatedThunkTable)
{
    auto image = makeSampleImage();
    // The lookup table's one entry fills the last eight bytes of .rdata.
    const std::size_t last = image.rdataEnd - 8;
    image.bytes.put64(last, image.rdataRva(image.importDescriptors + 0x100));
    image.bytes.put32(image.importDescriptors, image.rdataRva(last));
    const std::string text = listing(image.bytes.data, {"-em"});
    EXPECT_TRUE(
        Contains(text, "** the lookup table is not terminated before the end of its section " +
                           hexOffset(image.rdataEnd)));
    EXPECT_TRUE(Contains(text, "  Module msvcrt.dll"));
    // Damage is shown under its module's heading whatever the filter.
    const std::string filtered = listing(image.bytes.data, {"-em=nosuchname"});
    EXPECT_TRUE(Contains(filtered, "  Module KERNEL32.dll\n"));
    EXPECT_TRUE(Contains(filtered, "** the lookup table is not terminated"));
    EXPECT_TRUE(Lacks(filtered, "msvcrt.dll"));
}

TEST(MalformedPe, ImportDescriptorsWithoutTheClosingEntry)
{
    auto image = makeSampleImage();
    image.bytes.put32(image.dataDirectory(1), image.rdataRva(image.rdataEnd - 20));
    image.bytes.put32(image.rdataEnd - 20 + 12, image.rdataRva(image.importDescriptors + 0x140));
    const std::string text = listing(image.bytes.data, {"-em."});
    EXPECT_TRUE(Contains(text, "  KERNEL32.dll\n"));
    EXPECT_TRUE(Contains(text, "** the import descriptors run past the end of their section"));
}

TEST(MalformedPe, SixtyFiveThousandSections)
{
    auto image = makeSampleImage();
    image.bytes.put16(image.peHeader + 6, 65535);
    const std::string text = listing(image.bytes.data, {});
    EXPECT_TRUE(Contains(text, "** the section table is truncated: section "));
    EXPECT_TRUE(Contains(text, "of 65535 lies past the end of the file"));
    EXPECT_TRUE(Contains(text, "  Module KERNEL32.dll"));
}

TEST(MalformedPe, RelocationBlockOfSizeZero)
{
    auto image = makeSampleImage();
    image.bytes.put32(image.relocations + 16, 0);
    const std::string text = listing(image.bytes.data, {"-R"});
    EXPECT_TRUE(Contains(text, "    010  00001010  DIR64\n"));
    EXPECT_TRUE(Contains(
        text, "** relocation block of size 0 (a block is at least 8 bytes); the rest of the table "
              "is skipped " +
                  hexOffset(image.relocations + 16)));
}

TEST(MalformedPe, RelocationBlockLongerThanItsTable)
{
    auto image = makeSampleImage();
    image.bytes.put32(image.relocations + 4, 0x7FFFFFF0);
    const std::string text = listing(image.bytes.data, {"-R"});
    EXPECT_TRUE(
        Contains(text, "** relocation block of size 2147483632 runs past the end of the table"));
    EXPECT_TRUE(Contains(text, "1 blocks, 8 entries"));
}

TEST(MalformedPe, ExportCountsBeyondTheirTables)
{
    auto image = makeSampleImage();
    image.bytes.put32(image.exportDirectory + 20, 0xFFFFFFFF);
    image.bytes.put32(image.exportDirectory + 24, 0xFFFFFFFF);
    const std::string text = listing(image.bytes.data, {"-ee"});
    EXPECT_TRUE(Contains(text, "** more exports than the limit of 1048576"));
    EXPECT_TRUE(Contains(text, "** the export name tables end after "));
    EXPECT_TRUE(Contains(text, "** the export address table ends after "));
    EXPECT_TRUE(Contains(text, "alpha"));
}

TEST(MalformedPe, DebugDataPastTheEnd)
{
    auto image = makeSampleImage();
    image.bytes.put32(image.importDescriptors + 0x180 + 24, 0x7FFFFFF0);
    const std::string text = listing(image.bytes.data, {"-d"});
    EXPECT_TRUE(Contains(text, "** the debug data lies (partly) past the end of the file"));
}

TEST(MalformedPe, TablesThatAllShareOneLookupTableStopAtTheWorkBudget)
{
    auto image = makeSampleImage();
    // 20 descriptors at the start of .rdata, all naming KERNEL32's lookup
    // table; the work budget of this listing is set low, as a forged file
    // many times larger would meet the real one.
    const std::uint32_t first = image.rdataRva(image.exportDirectory);
    for (std::size_t i = 0; i < 20; ++i) {
        const std::size_t at = image.exportDirectory + i * 20;
        image.bytes.put32(at, image.bytes.get32(image.importDescriptors));
        image.bytes.put32(at + 12, image.bytes.get32(image.importDescriptors + 12));
        image.bytes.put32(at + 16, image.bytes.get32(image.importDescriptors + 16));
    }
    image.bytes.put32(image.dataDirectory(1), first);
    const auto parsed = parseCommandLine({"-em", "image.bin"});
    MemorySource source(image.bytes.data);
    Reader reader(source);
    StringSink sink;
    WorkBudget budget(2000);
    {
        Output out(sink, budget);
        dumpFile(parsed.options, "image.bin", reader, out);
    }
    EXPECT_TRUE(Contains(sink.text, "  Module KERNEL32.dll\n"));
    EXPECT_TRUE(Contains(
        sink.text, "** the listing stopped early: listing this file took more than 2000 units"));
    EXPECT_LT(std::count(sink.text.begin(), sink.text.end(), '\n'), 80);
}

// Every switch on every truncation and on a flipped byte in each header
// field: the listing must always finish (the sanitizer build catches reads
// out of bounds).
TEST(MalformedPe, EverySwitchSurvivesTruncationAndFlippedBytes)
{
    const auto whole = makeSampleImage().bytes.data;
    const std::vector<std::vector<std::string>> switchSets = {
        {},
        {"-ee", "-em", "-em.", "-R", "-d", "-li"},
        {"-C", "-r", "-oc", "-v"},
        {"-h", "-a", "-a7", "-b0x40"}};
    for (std::size_t size = 0; size < whole.size(); size += 61) {
        const std::vector<std::uint8_t> cut(whole.begin(),
                                            whole.begin() + static_cast<std::ptrdiff_t>(size));
        for (const auto& switches : switchSets) {
            EXPECT_TRUE(Contains(listing(cut, switches), "tdump listing")) << size;
        }
    }
    for (std::size_t at = 0x3C; at < 0x200; at += 3) {
        auto flipped = whole;
        flipped[at] ^= 0xA5;
        for (const auto& switches : switchSets) {
            EXPECT_TRUE(Contains(listing(flipped, switches), "tdump listing")) << at;
        }
    }
}

} // namespace
} // namespace tdump::test
