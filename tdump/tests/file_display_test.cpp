#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bytes.h"
#include "display/file_display.h"
#include "output.h"

namespace tdump::test {
namespace {

std::string show(const std::vector<std::uint8_t>& bytes, bool hexadecimal, std::uint64_t from,
                 bool sevenBit = false)
{
    MemorySource source(bytes);
    Reader reader(source);
    StringSink sink;
    {
        // A small buffer, so that lines cross buffer flushes.
        WorkBudget unlimited;
        Output out(sink, unlimited, 256);
        if (hexadecimal) {
            hexDisplay(View(reader), from, bytes.size(), out);
        } else {
            textDisplay(View(reader), from, sevenBit ? TextBits::Seven : TextBits::Eight, out);
        }
    }
    return sink.text;
}

std::vector<std::uint8_t> bytesOf(std::string_view text)
{
    return {text.begin(), text.end()};
}

TEST(HexDisplay, LinesOfSixteenWithCharacters)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(20);
    for (int i = 0; i < 20; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(0x3E + i));
    }
    bytes[1] = 0x00;
    bytes[2] = 0xFF;
    EXPECT_EQ(show(bytes, true, 0),
              "00000000  3E 00 FF 41 42 43 44 45  46 47 48 49 4A 4B 4C 4D  >..ABCDEFGHIJKLM\n"
              "00000010  4E 4F 50 51                                       NOPQ\n");
    EXPECT_EQ(show(bytes, true, 18),
              "00000012  50 51                                             PQ\n");
}

TEST(HexDisplay, ManyLinesThroughTheBufferAndPastChunks)
{
    std::vector<std::uint8_t> bytes(200000);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    }
    const std::string text = show(bytes, true, 0);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 12500);
    // The line at 0x10000 (the second read chunk) shows the right bytes.
    EXPECT_NE(text.find("\n00010000  00 07 0E 15 1C 23 2A 31  38 3F 46 4D 54 5B 62 69"),
              std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 77),
              "00030D30  50 57 5E 65 6C 73 7A 81  88 8F 96 9D A4 AB B2 B9  "
              "PW^elsz.........\n");
}

TEST(TextDisplay, LinesWithOffsetsAndControlBytes)
{
    EXPECT_EQ(show(bytesOf("one\r\ntwo\x01\tx\n\nlast"), false, 0),
              "00000000  one\n00000005  two. x\n0000000C  \n0000000D  last\n");
    EXPECT_EQ(show(bytesOf("abc\ndef"), false, 2), "00000002  c\n00000004  def\n");
}

TEST(TextDisplay, LongLinesWrapWithoutSplittingCharacters)
{
    std::string text(63, 'a');
    text += "\x82\xA0"; // one double-byte character across the wrap point
    text += "b";
    EXPECT_EQ(show(bytesOf(text), false, 0), "00000000  " + std::string(63, 'a') +
                                                 "\n0000003F  \x82\xA0"
                                                 "b\n");
}

TEST(TextDisplay, CodePage932KeptOrStrippedTo7Bits)
{
    const std::string japanese =
        "\x93\xfa\x96\x7b\xb1\x81"; // two kanji, half-width katakana, a lone lead byte
    EXPECT_EQ(show(bytesOf(japanese), false, 0), "00000000  \x93\xfa\x96\x7b\xb1.\n");
    EXPECT_EQ(show(bytesOf(japanese), false, 0, true), "00000000  .z.{1.\n");
}

} // namespace
} // namespace tdump::test
