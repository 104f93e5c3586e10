#include "cp932_text.h"

#include <gtest/gtest.h>

namespace quellan::cp932 {
namespace {

// The literals below are compiled to code page 932; these bytes prove it.
TEST(Cp932Text, NarrowLiteralsAreCompiledToCodePage932)
{
    EXPECT_EQ(std::string("フ"), "\x83\x74");
    EXPECT_EQ(std::string("ソ"), "\x83\x5C"); // trail byte looks like '\'
    EXPECT_EQ(std::string("ポ"), "\x83\x7C"); // trail byte looks like '|'
    EXPECT_EQ(std::string("。"), "\x81\x42");
    EXPECT_EQ(std::string("　"), "\x81\x40"); // ideographic space
}

TEST(Cp932Text, LastCharacterTakesADoubleByteCharacterWhole)
{
    EXPECT_EQ(lastCharacter(""), "");
    EXPECT_EQ(lastCharacter("abc"), "c");
    EXPECT_EQ(lastCharacter("失敗です。"), "。");
    EXPECT_EQ(lastCharacter("ソa"), "a");
    EXPECT_EQ(lastCharacter("aソ"), "ソ");
    EXPECT_EQ(lastCharacter("a\x83"), "\x83"); // lone lead byte at the end
    EXPECT_EQ(lastCharacter("\xB1"), "\xB1");  // half-width katakana is one byte
    EXPECT_EQ(lastCharacter("\x83."), ".");    // '.' is no trail byte
}

TEST(Cp932Text, UpperCaseLeavesDoubleByteCharactersAlone)
{
    EXPECT_EQ(upperCaseSingleByte("c:\\work\\app.exe"), "C:\\WORK\\APP.EXE");
    EXPECT_EQ(upperCaseSingleByte("c:\\フ.exe"), "C:\\フ.EXE");
    // Trail bytes 0x61..0x7A stay: ア is 0x83 0x41, ビ 0x83 0x72, ロ 0x83 0x8D.
    EXPECT_EQ(upperCaseSingleByte("\x83\x61\x83\x7A"), "\x83\x61\x83\x7A");
    EXPECT_EQ(upperCaseSingleByte("ab\x83"), "AB\x83");
    EXPECT_EQ(upperCaseSingleByte("\x83"), "\x83");
    EXPECT_EQ(upperCaseSingleByte("z{`@"), "Z{`@"); // only a..z change
}

TEST(Cp932Text, SplitIgnoresSeparatorBytesInsideDoubleByteCharacters)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(split("a|b||c", '|'), (V{"a", "b", "", "c"}));
    EXPECT_EQ(split("ポ|ポ", '|'), (V{"ポ", "ポ"}));
    EXPECT_EQ(split("全てのファイル(*.*)|*.*|テキストファイル(*.txt)|*.txt", '|'),
              (V{"全てのファイル(*.*)", "*.*", "テキストファイル(*.txt)", "*.txt"}));
    EXPECT_EQ(split("", '|'), (V{""}));
}

TEST(Cp932Text, ContainsSingleByteOfSkipsTrailBytes)
{
    EXPECT_TRUE(containsSingleByteOf("a|b", "|"));
    EXPECT_FALSE(containsSingleByteOf("ポ", "|"));
    EXPECT_FALSE(containsSingleByteOf("ソ", "\\"));
    EXPECT_TRUE(containsSingleByteOf("ソ\\", "\\"));
}

} // namespace
} // namespace quellan::cp932
