// Damage in the MS-DOS header's pointer to the PE header and in the sizes of
// base relocation blocks: reported where it is, the rest listed as before.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "image_builder.h"
#include "test_support.h"

namespace tdump::test {
namespace {

// An MS-DOS header and nothing else, its PE header offset set to lfanew.
std::vector<std::uint8_t> dosFile(std::uint32_t lfanew)
{
    Bytes bytes;
    bytes.put16(0, 0x5A4D);
    bytes.put32(0x3C, lfanew);
    bytes.put8(0x7F, 0);
    return bytes.data;
}

TEST(DosHeader, APeHeaderOffsetThatCannotLeadToAPeHeaderIsReported)
{
    const struct {
        std::uint32_t lfanew;
        std::string shown;
        std::string report;
    } cases[] = {
        {0x7FFFFFF0, "7FFFFFF0",
         "** e_lfanew points past the end of the file (128 bytes), so there is no "
         "PE header "},
        {0x80, "00000080",
         "** e_lfanew points past the end of the file (128 bytes), so there is no PE "
         "header "},
        {0xFFFFFFF0, "FFFFFFF0",
         "** e_lfanew is negative (-16 as a signed 32-bit value), so there is no PE "
         "header "},
        {0x7E, "0000007E",
         "** the PE signature at e_lfanew would run past the end of the file (128 bytes), "
         "so there is no PE header "},
    };
    const std::vector<std::vector<std::string>> switchSets = {{}, {"-e"}, {"-ex", "-v"}};
    for (const auto& c : cases) {
        for (const auto& switches : switchSets) {
            const std::string text = listing(dosFile(c.lfanew), switches);
            EXPECT_TRUE(Contains(text, "Type:     MS-DOS executable (no PE header)\n"));
            EXPECT_TRUE(Contains(text, "  PE header offset (e_lfanew)   " + c.shown + "\n  " +
                                           c.report + hexOffset(0x3C) + "\n"));
            EXPECT_EQ(reports(text).size(), 1u) << text;
        }
    }
    // Inside the file, without a PE signature there: an MS-DOS program.
    EXPECT_TRUE(reports(listing(dosFile(0x40), {})).empty());
}

TEST(MalformedPe, RelocationBlockOfOddSizeIsReportedAndTheTableGoesOn)
{
    auto image = makeSampleImage();
    // The first block loses half of its second entry; the second block is
    // found at the next even offset as before.
    image.bytes.put32(image.relocations + 4, 11);
    const std::string odd = "** relocation block of size 11 is odd (entries are 2 bytes each); its "
                            "last byte is skipped " +
                            hexOffset(image.relocations + 4);
    const std::string entries = listing(image.bytes.data, {"-R"});
    EXPECT_TRUE(Contains(entries, "  Page 00001000, block size 11, 1 entries\n    008  00001008  "
                                  "DIR64\n\n  Page 00002000"));
    EXPECT_TRUE(Contains(entries, odd));
    EXPECT_TRUE(Contains(entries, "2 blocks, 3 entries"));
    const std::string blocks = listing(image.bytes.data, {"-eiFIX"});
    EXPECT_TRUE(Contains(blocks, odd + "\n  00001000  0000000B        1\n  00002000  0000000C"));
    EXPECT_TRUE(Contains(blocks, "2 blocks, 3 entries"));
    for (const std::string& text : {entries, blocks}) {
        EXPECT_EQ(reports(text).size(), 1u) << text;
    }
}

// A size under the header's 8 bytes cannot say where the next block is: the
// table stops there, in either form.
TEST(MalformedPe, RelocationBlockShorterThanItsHeaderStopsTheTableInEitherForm)
{
    auto image = makeSampleImage();
    image.bytes.put32(image.relocations + 16, 5);
    const std::string tooShort = "** relocation block of size 5 (a block is at least 8 bytes); "
                                 "the rest of the table is skipped " +
                                 hexOffset(image.relocations + 16);
    EXPECT_TRUE(
        Contains(listing(image.bytes.data, {"-R"}), "    010  00001010  DIR64\n  " + tooShort));
    EXPECT_TRUE(Contains(listing(image.bytes.data, {"-eiFIX"}),
                         "  00001000  0000000C        2\n  " + tooShort));
}

} // namespace
} // namespace tdump::test
