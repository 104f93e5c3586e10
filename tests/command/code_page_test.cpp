#include "code_page.h"

#include <gtest/gtest.h>

namespace quellan {
namespace {

const CodePage& cp932 = CodePage::cp932();

// Windows-1252: every byte is a character of its own; 0xE9 is "é".
const CodePage cp1252{CodePage::LeadBytes{}};

// The literals below are compiled to code page 932; these bytes prove it.
TEST(CodePage, NarrowLiteralsAreCompiledToCodePage932)
{
    EXPECT_EQ(std::string("フ"), "\x83\x74");
    EXPECT_EQ(std::string("ソ"), "\x83\x5C"); // trail byte looks like '\'
    EXPECT_EQ(std::string("ポ"), "\x83\x7C"); // trail byte looks like '|'
    EXPECT_EQ(std::string("。"), "\x81\x42");
    EXPECT_EQ(std::string("　"), "\x81\x40"); // ideographic space
}

TEST(CodePage, Cp932LeadsWithItsTwoRangesOfBytes)
{
    for (unsigned byte = 0; byte < 256; ++byte) {
        const bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
        EXPECT_EQ(cp932.isLeadByte(static_cast<unsigned char>(byte)), lead) << byte;
        EXPECT_FALSE(cp1252.isLeadByte(static_cast<unsigned char>(byte))) << byte;
    }
}

TEST(CodePage, LastCharacterTakesADoubleByteCharacterWhole)
{
    EXPECT_EQ(cp932.lastCharacter(""), "");
    EXPECT_EQ(cp932.lastCharacter("abc"), "c");
    EXPECT_EQ(cp932.lastCharacter("失敗です。"), "。");
    EXPECT_EQ(cp932.lastCharacter("ソa"), "a");
    EXPECT_EQ(cp932.lastCharacter("aソ"), "ソ");
    EXPECT_EQ(cp932.lastCharacter("a\x83"), "\x83"); // lone lead byte at the end
    EXPECT_EQ(cp932.lastCharacter("\xB1"), "\xB1");  // half-width katakana is one byte
    EXPECT_EQ(cp932.lastCharacter("\x83."), ".");    // '.' is no trail byte
    // In 1252 the same bytes are two characters.
    EXPECT_EQ(cp1252.lastCharacter("aソ"), "\x5C");
}

TEST(CodePage, UpperCaseLeavesDoubleByteCharactersAlone)
{
    EXPECT_EQ(cp932.upperCaseSingleByte("c:\\work\\app.exe"), "C:\\WORK\\APP.EXE");
    EXPECT_EQ(cp932.upperCaseSingleByte("c:\\フ.exe"), "C:\\フ.EXE");
    // Trail bytes 0x61..0x7A stay: ア is 0x83 0x41, ビ 0x83 0x72, ロ 0x83 0x8D.
    EXPECT_EQ(cp932.upperCaseSingleByte("\x83\x61\x83\x7A"), "\x83\x61\x83\x7A");
    EXPECT_EQ(cp932.upperCaseSingleByte("ab\x83"), "AB\x83");
    EXPECT_EQ(cp932.upperCaseSingleByte("\x83"), "\x83");
    EXPECT_EQ(cp932.upperCaseSingleByte("z{`@"), "Z{`@"); // only a..z change
    // "qéa": in 1252 the a after é is a letter of its own.
    const std::string qea = std::string("q\xE9") + 'a';
    EXPECT_EQ(cp1252.upperCaseSingleByte(qea), std::string("Q\xE9") + 'A');
    EXPECT_EQ(cp932.upperCaseSingleByte(qea), std::string("Q\xE9") + 'a');
}

TEST(CodePage, SplitIgnoresSeparatorBytesInsideDoubleByteCharacters)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(cp932.split("a|b||c", '|'), (V{"a", "b", "", "c"}));
    EXPECT_EQ(cp932.split("ポ|ポ", '|'), (V{"ポ", "ポ"}));
    EXPECT_EQ(cp932.split("全てのファイル(*.*)|*.*|テキストファイル(*.txt)|*.txt", '|'),
              (V{"全てのファイル(*.*)", "*.*", "テキストファイル(*.txt)", "*.txt"}));
    EXPECT_EQ(cp932.split("", '|'), (V{""}));
    EXPECT_EQ(cp1252.split("\xE9|x", '|'), (V{"\xE9", "x"}));
}

TEST(CodePage, ContainsSingleByteOfSkipsTrailBytes)
{
    EXPECT_TRUE(cp932.containsSingleByteOf("a|b", "|"));
    EXPECT_FALSE(cp932.containsSingleByteOf("ポ", "|"));
    EXPECT_FALSE(cp932.containsSingleByteOf("ソ", "\\"));
    EXPECT_TRUE(cp932.containsSingleByteOf("ソ\\", "\\"));
    EXPECT_TRUE(cp1252.containsSingleByteOf("ソ", "\\"));
}

} // namespace
} // namespace quellan
