// NE images and MS-DOS programs made byte by byte: listed whole, then with
// one table broken at a time. The damage must be reported where it is and
// bound the walk; the rest of the listing goes on.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ne_builder.h"
#include "test_support.h"

namespace tdump::test {
namespace {

TEST(NeListing, TheSampleDllIsListedWholeWithoutReports)
{
    const std::string text = listing(makeSampleNe().bytes.data, {});
    EXPECT_TRUE(Contains(text, "Type:     NE image (DLL), 16-bit Windows\n"));
    EXPECT_TRUE(Contains(text, "  New header offset (e_lfanew)  00000080\n"));
    EXPECT_TRUE(Contains(text, "  Linker version                5.10\n"));
    EXPECT_TRUE(Contains(text, "  Flags                         8001  SINGLEDATA DLL\n"));
    EXPECT_TRUE(Contains(text, "  Expected Windows version      3.10\n"));
    EXPECT_TRUE(Contains(text, "  Entry point (CS:IP)           0001:0004\n"));
    EXPECT_TRUE(Contains(
        text, "    1  00000110     00010   00010      0100  CODE FIXED LOADONCALL RELOCINFO\n"));
    EXPECT_TRUE(Contains(text, "  Segment 1: 1 records\n    FAR_ADDR  0001,0006  KERNEL.EXIT\n"));
    EXPECT_TRUE(Contains(text, "  Type 10 (RCDATA), 1 resources\n"));
    EXPECT_TRUE(
        Contains(text, "    1                     00000130     00000010  0030  MOVABLE PURE\n"));
    EXPECT_TRUE(Contains(text, "  Module name: LIB\n      1  F\n"));
    EXPECT_TRUE(Contains(text, "  Description: DESC\n"));
    EXPECT_TRUE(Contains(text, "      1  FIXED    0001:0004  01 EXPORTED\n"));
    EXPECT_TRUE(reports(text).empty()) << text;
}

TEST(NeListing, SwitchesChooseTheTables)
{
    const auto bytes = makeSampleNe().bytes.data;
    const std::string dosPart = listing(bytes, {"-ex"});
    EXPECT_TRUE(Contains(dosPart, "MS-DOS load image"));
    EXPECT_TRUE(Lacks(dosPart, "NE header"));
    const std::string noRelocations = listing(bytes, {"-e", "-er"});
    EXPECT_TRUE(Contains(noRelocations, "Segments\n"));
    EXPECT_TRUE(Lacks(noRelocations, "KERNEL.EXIT"));
    const std::string entries = listing(bytes, {"-eiENT"});
    EXPECT_TRUE(Contains(entries, "Entry table\n"));
    EXPECT_TRUE(Lacks(entries, "Segments\n"));
    EXPECT_TRUE(Lacks(entries, "MS-DOS header"));
    EXPECT_TRUE(Contains(listing(bytes, {"-ee"}), "        1  0001:0004  F\n"));
    EXPECT_TRUE(Contains(listing(bytes, {"-em=ex"}), "  Module KERNEL\n    EXIT\n"));
    EXPECT_TRUE(Contains(listing(bytes, {"-em=nothing"}), "  0 import(s) match \"nothing\""));
    EXPECT_TRUE(
        Contains(listing(bytes, {"-em."}), "Imported modules\n----------------\n  KERNEL\n"));
    EXPECT_EQ(switchLine(listing(bytes, {"-R"}), "-R"),
              "no effect on an NE image: its relocation records are listed per segment by -e "
              "(-eiFIX)");
}

TEST(NeDamage, CountsPastTheEndAreReportedAndBoundTheWalk)
{
    auto segments = makeSampleNe();
    segments.bytes.put16(SampleNe::ne + 0x1C, 0x7FFF);
    EXPECT_TRUE(Contains(listing(segments.bytes.data, {"-eiOBJ"}),
                         "** the segment table runs past the end of the file after 16 of 32767 "
                         "segments " +
                             hexOffset(0x140)));
    auto modules = makeSampleNe();
    modules.bytes.put16(SampleNe::ne + 0x1E, 0xFFFF);
    EXPECT_TRUE(Contains(listing(modules.bytes.data, {"-em."}),
                         "** the module reference table runs past the end of the file after"));
    auto relocations = makeSampleNe();
    relocations.bytes.put16(SampleNe::relocations, 100);
    EXPECT_TRUE(Contains(listing(relocations.bytes.data, {"-eiFIX"}),
                         "** the relocation records run past the end of the file after 3 of 100 " +
                             hexOffset(SampleNe::relocations + 26)));
    auto resources = makeSampleNe();
    resources.bytes.put16(SampleNe::resourceTable + 4, 500);
    EXPECT_TRUE(Contains(listing(resources.bytes.data, {"-eiRES"}),
                         "** the type's 500 resources run past the end of the table " +
                             hexOffset(SampleNe::resourceTable + 4)));
    // Bundles of 255 unused entries each, more of them than 16-bit ordinals number.
    auto ordinals = makeSampleNe();
    constexpr std::size_t table = 0x140;
    constexpr std::size_t bundles = 258;
    ordinals.bytes.put16(SampleNe::ne + 0x04, table - SampleNe::ne);
    ordinals.bytes.put16(SampleNe::ne + 0x06, 2 * bundles + 1);
    for (std::size_t i = 0; i < bundles; ++i) {
        ordinals.bytes.put8(table + 2 * i, 0xFF);
        ordinals.bytes.put8(table + 2 * i + 1, 0);
    }
    ordinals.bytes.put8(table + 2 * bundles, 0);
    const std::string entries = listing(ordinals.bytes.data, {"-eiENT"});
    EXPECT_TRUE(Contains(entries, "255 unused ordinals (65281-65535)\n  ** the entry table's "
                                  "bundles number more than 65535 entries " +
                                      hexOffset(table + 514)));
}

// Every one of 65535 segments says its relocation records are the same
// 65535: the imports read them all over again, until the work limit stops
// the listing.
TEST(NeDamage, SegmentsSharingTheirRelocationsStopAtTheWorkLimit)
{
    auto shared = makeSampleNe();
    constexpr std::size_t table = 0x140;
    constexpr std::size_t count = 0xFFFF;
    shared.bytes.put16(SampleNe::ne + 0x1C, count);
    shared.bytes.put16(SampleNe::ne + 0x22, table - SampleNe::ne);
    shared.bytes.put16(SampleNe::relocations, count);
    for (std::size_t i = 0; i < count; ++i) {
        shared.bytes.put16(table + i * 8, 0x11);
        shared.bytes.put16(table + i * 8 + 2, 0x10);
        shared.bytes.put16(table + i * 8 + 4, 0x0100);
    }
    EXPECT_TRUE(Contains(listing(shared.bytes.data, {"-em"}), "the listing stopped early"));
}

TEST(NeDamage, TablesWithoutAnEndAreReported)
{
    // The non-resident names run to the end of their size without the 0 that ends them.
    auto names = makeSampleNe();
    names.bytes.put16(SampleNe::ne + 0x20, 7);
    EXPECT_TRUE(Contains(listing(names.bytes.data, {"-eiNAM"}),
                         "** the non-resident name table has no end: it runs to the end of its "
                         "space " +
                             hexOffset(SampleNe::nonResident + 7)));
    // The entry table's length ends inside its bundle.
    auto entries = makeSampleNe();
    entries.bytes.put16(SampleNe::ne + 0x06, 4);
    const std::string cut = listing(entries.bytes.data, {"-eiENT"});
    EXPECT_TRUE(Contains(cut, "** the entry table has no end: its last bundle runs past the "
                              "table's length " +
                                  hexOffset(SampleNe::entries + 2)));
    // A chain of places that returns to where it began.
    auto loop = makeSampleNe();
    loop.bytes.put16(SampleNe::code + 6, 0x0001);
    EXPECT_TRUE(Contains(listing(loop.bytes.data, {"-eiFIX"}),
                         "    FAR_ADDR  0001,0006  KERNEL.EXIT\n  ** the chain returns to offset "
                         "0x0001: it ends there " +
                             hexOffset(SampleNe::relocations + 2)));
}

TEST(DosProgram, LoadImageRelocationsAndOverlay)
{
    const std::string text = listing(makeDosProgram(), {});
    EXPECT_TRUE(Contains(text, "Type:     MS-DOS executable (no PE header)\n"));
    EXPECT_TRUE(Contains(text, "  New header offset (e_lfanew)  not read: the header is 3 "
                               "paragraphs, too short to hold it\n"));
    EXPECT_TRUE(
        Contains(text, "  Size                          64 bytes (0x40), to file offset 0x70\n"));
    EXPECT_TRUE(Contains(text, "      1  0000:0003       00000003      00000033\n"
                               "      2  0002:0010       00000030      00000060\n"));
    EXPECT_TRUE(Contains(text, "MS-DOS overlay\n--------------\n  File offset                   "
                               "0x70\n  Size                          16 bytes (0x10)\n"));
    EXPECT_TRUE(reports(text).empty()) << text;
    EXPECT_TRUE(Lacks(listing(makeDosProgram(), {"-er"}), "MS-DOS relocations"));
    auto cut = makeDosProgram();
    cut[0x06] = 40;
    EXPECT_TRUE(Contains(listing(cut, {}), "** the relocation table runs past the end of the file "
                                           "after 25 of 40 entries " +
                                               hexOffset(0x80)));
}

} // namespace
} // namespace tdump::test
