// LE and LX executables made byte by byte: the tables of a small valid file,
// and each kind of damage reported where it is while the rest is listed.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "image_builder.h"
#include "linear_builder.h"
#include "test_support.h"

namespace tdump::test {
namespace {

TEST(LinearExecutable, ListsItsTablesAndTellsLeFromLx)
{
    for (const bool lx : {false, true}) {
        const std::string text = listing(linearExecutable(lx).data, {});
        EXPECT_TRUE(Contains(text, lx ? "Type:     LX executable (OS/2), program, 80386\n"
                                      : "Type:     LE executable (Windows 386), program, 80386\n"));
        EXPECT_TRUE(Contains(text, "     1  00000010      00010000  00002005      1, 1  readable, "
                                   "executable, big\n"));
        EXPECT_TRUE(Contains(text, "  0x200\n"));
        EXPECT_TRUE(Contains(text, "  Bundle of 1 32-bit entries in object 1"));
        EXPECT_TRUE(Contains(text, "        1  00000000  exported  ONE\n"));
        EXPECT_TRUE(Contains(text, "    +0000  32-bit offset     DOS ordinal 5\n"));
        EXPECT_TRUE(reports(text).empty()) << text;
        const std::string imports = listing(linearExecutable(lx).data, {"-em", "-em.", "-ee"});
        EXPECT_TRUE(Contains(imports, "Imports\n-------\n  DOS\n    ordinal 5\n"));
        EXPECT_TRUE(Contains(imports, "Imported modules\n----------------\n  DOS\n"));
        EXPECT_TRUE(Contains(imports, "        1       1  00000000  ONE\n"));
        // -er keeps the fixup page table and leaves out the records.
        const std::string noRecords = listing(linearExecutable(lx).data, {"-eiFIX", "-er"});
        EXPECT_TRUE(Contains(noRecords, "  Page    1  records 0x0000-0x0007\n"));
        EXPECT_TRUE(Lacks(noRecords, "DOS ordinal 5"));
        EXPECT_TRUE(Lacks(noRecords, "Entry table"));
    }
    const std::string ex = listing(linearExecutable(false).data, {"-ex", "-R", "-l"});
    EXPECT_TRUE(Contains(ex, "MS-DOS header"));
    EXPECT_TRUE(Lacks(ex, "LE header"));
    EXPECT_TRUE(Contains(switchLine(ex, "-R"), "its fixups are listed by the executable display"));
    EXPECT_TRUE(Contains(switchLine(ex, "-l"), "no effect on an LE executable"));
}

TEST(LinearExecutable, IteratedPagesListTheirRecordsWhateverTheirPatternsLength)
{
    // The one page made iterated: three times an 8-byte pattern, then once
    // nothing. Patterns are skipped, not read as numbers.
    Bytes lx = linearExecutable(true);
    lx.put16(linear::header + linear::pageMap + 6, 1);
    lx.put32(linear::header + 0x4C, 0x200); // where iterated pages lie
    lx.put16(0x200, 3);
    lx.put16(0x202, 8);
    lx.put16(0x20C, 1);
    lx.put16(0x20E, 0);
    const std::string text = listing(lx.data, {"-eiOBJ"});
    EXPECT_TRUE(Contains(text, "          3 x 8 bytes\n"
                               "          1 x 0 bytes\n"
                               "          expanded to 24 bytes\n"));
    EXPECT_TRUE(reports(text).empty()) << text;
}

TEST(LinearExecutable, TheDeviceDescriptionBlockIsFoundThroughEntryOne)
{
    const std::string vxd = listing(linearExecutable(false).data, {"-eiENT"});
    EXPECT_TRUE(Contains(vxd, "  File offset                   0x200\n"
                              "  Name                          TESTDEV\n"
                              "  Device ID                     4242\n"));
    EXPECT_TRUE(Lacks(listing(linearExecutable(true).data, {}), "Device description block"));
    // Entry 1 pointing past its object's one page.
    Bytes outside = linearExecutable(false);
    outside.put32(linear::header + linear::entries + 5, 0x1000);
    const std::string text = listing(outside.data, {"-eiENT"});
    EXPECT_TRUE(Contains(text, "  Entry                         1: object 1 + 00001000\n"));
    EXPECT_TRUE(Contains(text, "** the entry's target does not lie in the file's page data " +
                                   hexOffset(linear::header + linear::entries)));
}

TEST(LinearExecutable, CountsPastTheEndAreReportedAndBounded)
{
    Bytes b = linearExecutable(false);
    b.put32(linear::header + 0x44, 0xFFFFFFFF); // objects
    b.put32(linear::header + 0x14, 0xFFFFFFFF); // pages
    b.put32(linear::header + 0x74, 0xFFFFFFFF); // import modules
    const std::string text = listing(b.data, {});
    EXPECT_TRUE(Contains(text, "** the object table (4294967295 entries of 24 bytes) runs past the "
                               "end of the file; 13 fit " +
                                   hexOffset(linear::header + linear::objects)));
    EXPECT_TRUE(Contains(text, "** the object page map (4294967295 entries of 4 bytes) runs past "
                               "the end of the file; 73 fit " +
                                   hexOffset(linear::header + linear::pageMap)));
    EXPECT_TRUE(Contains(text, "** the fixup page table (4294967296 entries of 4 bytes) runs past "
                               "the end of the file; 65 fit " +
                                   hexOffset(linear::header + linear::fixupPages)));
    EXPECT_TRUE(Contains(text, "** the import module name table (4294967295 names) runs past the "
                               "end of the file"));
    // The name stays listed before the damage.
    EXPECT_TRUE(Contains(text, "Import modules\n--------------\n      1  DOS\n"));
}

TEST(LinearExecutable, TablesWithoutTheirEndAreReportedWhereTheyStop)
{
    // A resident name table that runs into the end of the file.
    Bytes names = linearExecutable(false);
    names.put32(linear::header + 0x58, 0x1CE); // a name longer than the rest of the file
    names.put8(0x20E, 0x41);
    EXPECT_TRUE(Contains(listing(names.data, {"-eiNAM"}),
                         "** a name runs past the end of its table " + hexOffset(0x20E)));

    // An entry table that never ends: bundles of unused entries to the end.
    Bytes entries = linearExecutable(true);
    entries.put32(linear::header + 0x5C, 0x150);
    for (std::size_t i = linear::header + 0x150; i < 0x240; i += 2) {
        entries.put8(i, 1);
        entries.put8(i + 1, 0);
    }
    const std::string endless = listing(entries.data, {"-eiENT"});
    EXPECT_TRUE(Contains(endless, "** the entry table has no end mark (a bundle count of 0) before "
                                  "the end of the file " +
                                      hexOffset(0x240)));
    EXPECT_TRUE(Contains(endless, "  Bundle of 1 unused entries (ordinals 88-88)\n"));

    // A bundle type no loader knows stops the walk, the bundles before it listed.
    Bytes unknown = linearExecutable(false);
    unknown.put8(linear::header + linear::entries + 9, 1);
    unknown.put8(linear::header + linear::entries + 10, 7);
    const std::string stopped = listing(unknown.data, {"-eiENT"});
    EXPECT_TRUE(Contains(stopped, "        1  00000000  exported  ONE\n"));
    EXPECT_TRUE(Contains(stopped, "** unknown entry bundle type 0x07; the entry table cannot be "
                                  "read past it " +
                                      hexOffset(linear::header + linear::entries + 10)));
}

TEST(LinearExecutable, FixupsPastTheRecordTableAreReported)
{
    Bytes b = linearExecutable(true);
    b.put32(linear::header + linear::fixupPages + 4,
            0x40); // page 1's fixups end far past the records
    for (const auto& switches : {std::vector<std::string>{"-eiFIX"}, {"-eiFIX", "-er"}}) {
        const std::string text = listing(b.data, switches);
        EXPECT_EQ(reports(text).size(), 1U) << text;
        EXPECT_TRUE(Contains(text, "lie past the fixup record table (0x7 bytes) " +
                                       hexOffset(linear::header + linear::fixupPages)));
    }
    // The records that are there are still read.
    EXPECT_TRUE(Contains(listing(b.data, {"-eiFIX"}), "DOS ordinal 5"));
    // A record cut off by the end of its page's fixups.
    Bytes cut = linearExecutable(false);
    cut.put32(linear::header + linear::fixupPages + 4, 5);
    EXPECT_TRUE(Contains(listing(cut.data, {"-eiFIX"}),
                         "** a fixup record runs past the end of its page's fixups " +
                             hexOffset(linear::header + linear::fixupRecords)));
}

} // namespace
} // namespace tdump::test
