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

// An MS-DOS header of four paragraphs and nothing else, its new header
// offset set to lfanew.
std::vector<std::uint8_t> dosFile(std::uint32_t lfanew)
{
    Bytes bytes;
    bytes.put16(0, 0x5A4D);
    bytes.put16(0x08, 4);
    bytes.put16(0x18, 0x40);
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
            EXPECT_TRUE(Contains(text, "  New header offset (e_lfanew)  " + c.shown + "\n  " +
                                           c.report + hexOffset(0x3C) + "\n"));
            EXPECT_EQ(reports(text).size(), 1u) << text;
        }
    }
    // Inside the file, without a PE signature there: an MS-DOS program.
    EXPECT_TRUE(reports(listing(dosFile(0x40), {})).empty());
}

// An odd size still bounds its block: the report, and the table goes on at
// the next even offset. A size under the header's 8 bytes cannot say where
// the next block is: the table stops there. Both in either form.
TEST(MalformedPe, RelocationBlockSizesThatCannotBeRightAreReported)
{
    const std::size_t table = makeSampleImage().relocations;
    const auto withBlockSize = [](std::size_t field, std::uint32_t size) {
        auto image = makeSampleImage();
        image.bytes.put32(field, size);
        return image.bytes.data;
    };
    // The first block loses half of its second entry.
    const auto odd = withBlockSize(table + 4, 11);
    const std::string oddReport = "** relocation block of size 11 is odd (entries are 2 bytes "
                                  "each); its last byte is skipped " +
                                  hexOffset(table + 4);
    const std::string entries = listing(odd, {"-R"});
    EXPECT_TRUE(Contains(entries, "  Page 00001000, block size 11, 1 entries\n    008  00001008  "
                                  "DIR64\n\n  Page 00002000"));
    EXPECT_TRUE(Contains(entries, oddReport));
    const std::string blocks = listing(odd, {"-eiFIX"});
    EXPECT_TRUE(
        Contains(blocks, oddReport + "\n  00001000  0000000B        1\n  00002000  0000000C"));
    for (const std::string& text : {entries, blocks}) {
        EXPECT_TRUE(Contains(text, "2 blocks, 3 entries"));
        EXPECT_EQ(reports(text).size(), 1u) << text;
    }

    const auto tooShort = withBlockSize(table + 16, 5);
    const std::string shortReport = "** relocation block of size 5 (a block is at least 8 bytes); "
                                    "the rest of the table is skipped " +
                                    hexOffset(table + 16);
    EXPECT_TRUE(Contains(listing(tooShort, {"-R"}), "    010  00001010  DIR64\n  " + shortReport));
    EXPECT_TRUE(
        Contains(listing(tooShort, {"-eiFIX"}), "  00001000  0000000C        2\n  " + shortReport));
}

} // namespace
} // namespace tdump::test
