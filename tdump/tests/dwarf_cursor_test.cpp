#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"
#include "dwarf/cursor.h"

namespace tdump::dwarf {
namespace {

// A cursor over bytes, with the source and reader it needs kept alive.
class Bytes {
public:
    explicit Bytes(std::vector<std::uint8_t> bytes)
        : bytes_(std::move(bytes)), source_(bytes_), reader_(source_)
    {
    }
    Cursor cursor(std::uint64_t offset = 0) { return Cursor(View(reader_), offset); }

private:
    std::vector<std::uint8_t> bytes_;
    MemorySource source_;
    Reader reader_;
};

TEST(DwarfCursor, Leb128OfEveryLengthUpToTenBytes)
{
    Bytes bytes({0xE5, 0x8E, 0x26,                                           // 624485
                 0x7F,                                                       // -1 signed
                 0xC0, 0xBB, 0x78,                                           // -123456 signed
                 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, // 2^64 - 1
                 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x7F, // INT64_MIN
                 0x80, 0x80, 0x00});                                         // 0, padded
    Cursor cursor = bytes.cursor();
    EXPECT_EQ(cursor.uleb(), 624485u);
    EXPECT_EQ(cursor.sleb(), -1);
    EXPECT_EQ(cursor.sleb(), -123456);
    EXPECT_EQ(cursor.uleb(), ~std::uint64_t{0});
    EXPECT_EQ(cursor.sleb(), INT64_MIN);
    EXPECT_EQ(cursor.uleb(), 0u);
    EXPECT_TRUE(cursor.atEnd());
}

TEST(DwarfCursor, OverLongAndCutLeb128Fail)
{
    // Eleven bytes, and ten whose last carries bits past the 64th.
    Bytes overLong(std::vector<std::uint8_t>(10, 0x80));
    Bytes tooManyBits({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x03});
    Bytes cut({0x80, 0x80});
    Cursor a = overLong.cursor();
    EXPECT_FALSE(a.uleb());
    Cursor b = tooManyBits.cursor();
    EXPECT_FALSE(b.uleb());
    EXPECT_EQ(b.failure(), "an over-long LEB128");
    Cursor c = cut.cursor();
    EXPECT_FALSE(c.sleb());
    EXPECT_EQ(c.failure(), "the section ends");
}

TEST(DwarfCursor, FieldsAndStringsAcrossTheWindowsEdge)
{
    // The cursor reads 4 KiB at a time: a field and a string that straddle
    // the edge, and a string longer than a window, still come out whole.
    const std::string longText(5000, 'x');
    std::string data(4094, '\0');
    data += "\x11\x22\x33\x44" + longText;
    data += '\0';
    data += "end";
    Bytes bytes(std::vector<std::uint8_t>(data.begin(), data.end()));
    Cursor cursor = bytes.cursor(4094);
    EXPECT_EQ(cursor.u32(), 0x44332211u);
    EXPECT_EQ(cursor.string(10000), longText);
    EXPECT_FALSE(cursor.string(10)) << "no NUL before the end";
    Cursor limited = bytes.cursor(4098);
    EXPECT_EQ(limited.string(3), "xxx");
    EXPECT_EQ(limited.offset(), 4098u + 5001u) << "past the whole string, not the kept part";
}

TEST(DwarfCursor, InitialLengthsOf32And64BitDwarf)
{
    Bytes bytes({0x10, 0x00, 0x00, 0x00,                            // 32-bit
                 0xFF, 0xFF, 0xFF, 0xFF, 0x20, 0, 0, 0, 0, 0, 0, 0, // 64-bit
                 0xF0, 0xFF, 0xFF, 0xFF});                          // reserved
    Cursor cursor = bytes.cursor();
    const auto first = cursor.initialLength();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->length, 0x10u);
    EXPECT_EQ(first->offsetSize, 4u);
    const auto second = cursor.initialLength();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->length, 0x20u);
    EXPECT_EQ(second->offsetSize, 8u);
    EXPECT_FALSE(cursor.initialLength());
    EXPECT_EQ(cursor.failure(), "a reserved initial length");
}

TEST(DwarfCursor, SkipAndReadsStopAtTheEnd)
{
    Bytes bytes({1, 2, 3});
    Cursor cursor = bytes.cursor();
    EXPECT_FALSE(cursor.u32());
    EXPECT_EQ(cursor.offset(), 0u) << "a failed read does not move";
    EXPECT_TRUE(cursor.skip(2));
    EXPECT_EQ(cursor.u8(), 3);
    EXPECT_FALSE(cursor.skip(1));
    EXPECT_FALSE(cursor.u8());
}

} // namespace
} // namespace tdump::dwarf
