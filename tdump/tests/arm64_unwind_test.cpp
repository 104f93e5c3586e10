// ARM64 exception tables forged into the sample DLL made an ARM64 image:
// packed unwind data of the shapes clang does not emit, unwind codes of
// every length, and each kind of damage reported in place with the listing
// going on to the next entry.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "image_builder.h"
#include "test_support.h"

namespace tdump::test {
namespace {

constexpr std::size_t machineField = 0x84;
constexpr std::size_t exceptionDirectory = 3;
constexpr std::size_t table = 0x700; // the .pdata entries, in .tables

// The file offset of entry i's unwind word.
std::size_t unwindWordAt(std::size_t i)
{
    return TablesImage::at(table + i * 8 + 4);
}

// A packed .pdata word: flag 1, the function length in bytes, RegF, RegI,
// H, CR and the frame size in bytes.
std::uint32_t packed(std::uint32_t length, std::uint32_t regF, std::uint32_t regI,
                     std::uint32_t homed, std::uint32_t cr, std::uint32_t frame)
{
    return 1u | (length / 4) << 2u | regF << 13u | regI << 16u | homed << 20u | cr << 21u |
           (frame / 16) << 23u;
}

// An .xdata header word: function length in bytes, X, E, epilogue count
// (or index) and code words.
std::uint32_t xdataHeader(std::uint32_t length, bool handler, bool packedEpilogue,
                          std::uint32_t epilogues, std::uint32_t codeWords)
{
    return length / 4 | (handler ? 1u << 20u : 0u) | (packedEpilogue ? 1u << 21u : 0u) |
           epilogues << 22u | codeWords << 27u;
}

class Arm64Image {
public:
    Arm64Image() { image_.bytes().put16(machineField, 0xAA64); }

    // Entry i of the table: the function at begin, then unwind data.
    void entry(std::size_t i, std::uint32_t unwind)
    {
        Bytes& b = image_.bytes();
        b.put32(TablesImage::at(table + i * 8), 0x1000 + static_cast<std::uint32_t>(i) * 0x40);
        b.put32(TablesImage::at(table + i * 8 + 4), unwind);
        entries_ = std::max(entries_, i + 1);
    }
    void bytesAt(std::size_t offset, const std::vector<std::uint8_t>& data)
    {
        for (std::size_t i = 0; i < data.size(); ++i) {
            image_.bytes().put8(TablesImage::at(offset + i), data[i]);
        }
    }
    void wordAt(std::size_t offset, std::uint32_t value)
    {
        image_.bytes().put32(TablesImage::at(offset), value);
    }
    std::string listing()
    {
        image_.setDirectory(exceptionDirectory, TablesImage::rva(table),
                            static_cast<std::uint32_t>(entries_ * 8));
        return test::listing(image_.bytes().data, {"-eiEXC"});
    }

private:
    TablesImage image_;
    std::size_t entries_ = 0;
};

TEST(Arm64Unwind, PackedDataStandsForTheCanonicalPrologue)
{
    Arm64Image image;
    // A chained frame homing x0..x7 behind x19, x20: 80 bytes saved, 32 of
    // locals, so <x29, lr> goes with a pre-decrement.
    image.entry(0, packed(40, 0, 2, 1, 3, 112));
    // d8, d9 alone (their pair does the pre-decrement) and 5008 bytes of
    // locals, more than one sub allocates.
    image.entry(1, packed(16, 1, 0, 0, 0, 5024));
    // lr saved with x19..x21 (pairing with x21), a fragment.
    image.entry(2, packed(8, 0, 3, 0, 1, 32) + 1);
    image.entry(3, 3);                         // flag 3
    image.entry(4, packed(8, 0, 1, 0, 1, 16)); // RegI 1 with CR 1
    image.entry(5, packed(8, 0, 4, 0, 0, 16)); // frame smaller than the saves
    const std::string text = image.listing();
    EXPECT_TRUE(Contains(text, "  00001000  packed 03F20029: function length 40, RegF 0, RegI 2, "
                               "H 1, CR 3, frame size 112\n"
                               "      Prologue, last instruction first\n"
                               "        mov x29, sp\n"
                               "        stp x29, lr, [sp, #-32]!\n"
                               "        stp x6, x7, [sp, #64]\n"
                               "        stp x4, x5, [sp, #48]\n"
                               "        stp x2, x3, [sp, #32]\n"
                               "        stp x0, x1, [sp, #16]\n"
                               "        stp x19, x20, [sp, #-80]!\n"
                               "  00001040  packed 9D002011: function length 16, RegF 1, RegI 0, "
                               "H 0, CR 0, frame size 5024\n"
                               "      Prologue, last instruction first\n"
                               "        sub sp, sp, #928\n"
                               "        sub sp, sp, #4080\n"
                               "        stp d8, d9, [sp, #-16]!\n"
                               "  00001080  packed fragment 0123000A: function length 8, RegF 0, "
                               "RegI 3, H 0, CR 1, frame size 32\n"
                               "      Prologue, last instruction first\n"
                               "        stp x21, lr, [sp, #16]\n"
                               "        stp x19, x20, [sp, #-32]!\n"));
    EXPECT_TRUE(Contains(text, "  ** packed unwind data with flag 3, which is reserved " +
                                   hexOffset(unwindWordAt(3))));
    EXPECT_TRUE(Contains(text, "  ** RegI 1 with CR 1 has no canonical prologue " +
                                   hexOffset(unwindWordAt(4))));
    EXPECT_TRUE(Contains(text, "  ** the frame size 16 is smaller than the 32 bytes of saved "
                               "registers " +
                                   hexOffset(unwindWordAt(5))));
}

TEST(Arm64Unwind, RecordWithScopesCodesAndHandler)
{
    // Two epilogue scopes, codes of one, two and three bytes, the chained
    // scope's end_c, and a handler with its data after the codes.
    Arm64Image image;
    image.entry(0, TablesImage::rva(0x800));
    image.wordAt(0x800, xdataHeader(64, true, false, 2, 3));
    image.wordAt(0x804, 12 | 1u << 22u);
    image.wordAt(0x808, 14 | 8u << 22u);
    image.bytesAt(0x80C, {0xE1, 0xDA, 0x85, 0xE7, 0x48, 0x82, 0xFC, 0xE4, 0xE8, 0xE5, 0xE4, 0xE3});
    image.wordAt(0x818, 0x1500);
    image.wordAt(0x81C, 0xCAFE);
    const std::string text = image.listing();
    EXPECT_TRUE(Contains(text, "  00001000  00004800  function length 64, version 0, X 1, E 0, "
                               "epilogues 2, code words 3\n"
                               "      Prologue, last instruction first\n"
                               "        E1          set_fp         mov x29, sp\n"
                               "        DA 85       save_fregp_x   stp d10, d11, [sp, #-48]!\n"
                               "        E7 48 82    save_any_reg   stp q8, q9, [sp, #32]\n"
                               "        FC          pac_sign_lr    pacibsp\n"
                               "        E4          end\n"
                               "      Epilogue at +0x30, codes from index 1\n"
                               "        DA 85       save_fregp_x   ldp d10, d11, [sp], #48\n"
                               "        E7 48 82    save_any_reg   ldp q8, q9, [sp, #32]\n"
                               "        FC          pac_sign_lr    autibsp\n"
                               "        E4          end\n"
                               "      Epilogue at +0x38, codes from index 8\n"
                               "        E8          MSFT_OP_TRAP_FRAME\n"
                               "        E5          end_c\n"
                               "        E4          end\n"
                               "      Exception handler 00001500, data at 0000481C: 0000CAFE\n"));
    EXPECT_TRUE(reports(text).empty());
}

TEST(Arm64Unwind, SaveNextNamesThePairItStores)
{
    // Pairs after d8, d9; after x27, x28 (the last integer pair, so d8, d9
    // and d10, d11 follow); and a save_next with no pair save after it.
    Arm64Image image;
    image.entry(0, TablesImage::rva(0x800));
    image.wordAt(0x800, xdataHeader(96, false, false, 1, 4));
    image.wordAt(0x804, 20 | 9u << 22u);
    image.bytesAt(0x808, {0xE6, 0xE6, 0xD8, 0x02, 0xE6, 0xE6, 0xCE, 0x03, 0xE4, 0xE6, 0xE4, 0xE3,
                          0xE3, 0xE3, 0xE3, 0xE3});
    EXPECT_TRUE(Contains(image.listing(),
                         "      Prologue, last instruction first\n"
                         "        E6          save_next      stp d12, d13, [sp, #48]\n"
                         "        E6          save_next      stp d10, d11, [sp, #32]\n"
                         "        D8 02       save_fregp     stp d8, d9, [sp, #16]\n"
                         "        E6          save_next      stp d10, d11, [sp, #32]\n"
                         "        E6          save_next      stp d8, d9, [sp, #16]\n"
                         "        CE 03       save_regp_x    stp x27, x28, [sp, #-32]!\n"
                         "        E4          end\n"
                         "      Epilogue at +0x50, codes from index 9\n"
                         "        E6          save_next\n"
                         "        E4          end\n"));
}

TEST(Arm64Unwind, DamageIsReportedAndTheTableGoesOn)
{
    Arm64Image image;
    // A reserved code.
    image.entry(0, TablesImage::rva(0x900));
    image.wordAt(0x900, xdataHeader(8, false, true, 0, 1));
    image.bytesAt(0x904, {0xE3, 0xF0, 0xE4, 0xE4});
    // An epilogue starting past the codes.
    image.entry(1, TablesImage::rva(0x940));
    image.wordAt(0x940, xdataHeader(8, false, false, 1, 1));
    image.wordAt(0x944, 1 | 9u << 22u);
    image.bytesAt(0x948, {0xE4, 0xE3, 0xE3, 0xE3});
    // Unwind data outside the image, and codes past the end of .tables.
    image.entry(2, 0x7FFF0000);
    image.entry(3, TablesImage::rva(0xF90));
    image.wordAt(0xF90, xdataHeader(8, false, true, 0, 31));
    // The extended header; an unknown version.
    image.entry(4, TablesImage::rva(0xA00));
    image.wordAt(0xA00, xdataHeader(8, false, false, 0, 0));
    image.wordAt(0xA04, 1u << 16u);
    image.bytesAt(0xA08, {0xE3, 0xE4, 0xE3, 0xE3});
    image.entry(5, TablesImage::rva(0xA40));
    image.wordAt(0xA40, xdataHeader(8, false, true, 0, 1) | 1u << 18u);
    // Codes that never end, and one cut short by the end of the codes.
    image.entry(6, TablesImage::rva(0xA80));
    image.wordAt(0xA80, xdataHeader(8, false, true, 0, 1));
    image.bytesAt(0xA84, {0xE3, 0xE3, 0xE3, 0xE3});
    image.entry(7, TablesImage::rva(0xAC0));
    image.wordAt(0xAC0, xdataHeader(8, false, true, 0, 1));
    image.bytesAt(0xAC4, {0xE3, 0xE3, 0xE3, 0xE0});
    // A handler whose data would lie past the section.
    image.entry(8, TablesImage::rva(0xFF4));
    image.wordAt(0xFF4, xdataHeader(8, true, true, 0, 1));
    image.bytesAt(0xFF8, {0xE4, 0xE3, 0xE3, 0xE3});
    image.wordAt(0xFFC, 0x1500);
    const std::string text = image.listing();
    EXPECT_TRUE(Contains(text, "        E3          nop            nop\n"
                               "  ** unwind code 0xF0 at index 1 is reserved " +
                                   hexOffset(TablesImage::at(0x905))));
    EXPECT_TRUE(Contains(text, "      Epilogue at +0x4, codes from index 9\n"
                               "  ** the epilogue's start index 9 lies past the 4 code bytes " +
                                   hexOffset(TablesImage::at(0x944))));
    EXPECT_TRUE(Contains(text, "  00001080  7FFF0000\n"
                               "  ** the unwind data: RVA 0x7FFF0000 lies outside every section "
                               "and the headers " +
                                   hexOffset(unwindWordAt(2))));
    EXPECT_TRUE(Contains(text, "  ** the epilogue scopes and unwind codes run past the end of "
                               "their section " +
                                   hexOffset(TablesImage::at(0xF90))));
    EXPECT_TRUE(Contains(text, "epilogues 0, code words 0; extended: epilogues 0, code words 1\n"
                               "      Prologue, last instruction first\n"
                               "        E3          nop            nop\n"
                               "        E4          end\n"));
    EXPECT_TRUE(Contains(text, "  ** unwind data version 1 is not known " +
                                   hexOffset(TablesImage::at(0xA40))));
    EXPECT_TRUE(Contains(text, "  ** the unwind codes from index 0 have no end code " +
                                   hexOffset(TablesImage::at(0xA84))));
    EXPECT_TRUE(Contains(text, "  ** alloc_l at index 3 needs 4 bytes, 1 are left " +
                                   hexOffset(TablesImage::at(0xAC7))));
    EXPECT_TRUE(Contains(text, "      Exception handler 00001500, data at 00005000\n"
                               "  ** the handler data lies past the end of its section " +
                                   hexOffset(TablesImage::at(0x1000))));
    EXPECT_EQ(reports(text).size(), 8u) << text;
}

} // namespace
} // namespace tdump::test
