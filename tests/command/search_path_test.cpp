#include "search_path.h"

#include <gtest/gtest.h>

namespace quellan {
namespace {

// Most names below are in code page 932.
std::string parentFolder(std::string_view filePath)
{
    return parentFolder(filePath, CodePage::cp932());
}

std::optional<std::string> pathWithFolderAppended(std::string_view path, std::string_view folder)
{
    return pathWithFolderAppended(path, folder, CodePage::cp932());
}

TEST(SearchPath, ParentFolderSplitsAtTheLastRealBackslash)
{
    EXPECT_EQ(parentFolder("C:\\Tools\\Quellan.exe"), "C:\\Tools");
    EXPECT_EQ(parentFolder("C:\\Quellan.exe"), "C:\\"); // "C:" alone would be a current folder
    EXPECT_EQ(parentFolder("\\\\server\\share\\Quellan.exe"), "\\\\server\\share");
    // The second bytes of ソ and 表 are 0x5C.
    EXPECT_EQ(parentFolder("C:\\ソフト 表\\Quellan.exe"), "C:\\ソフト 表");
    EXPECT_EQ(parentFolder("C:\\a\\ソ"), "C:\\a");
    EXPECT_EQ(parentFolder("Quellan.exe"), "");
    // In 1252, "é" (0xE9, a lead byte in 932) is a character of its own and
    // the backslash after it a real one.
    const CodePage cp1252{CodePage::LeadBytes{}};
    EXPECT_EQ(parentFolder("C:\\q\xE9\\tdump.exe", cp1252), "C:\\q\xE9");
    EXPECT_EQ(pathWithFolderAppended("C:\\q\xE9\\", "C:\\q\xE9", cp1252), std::nullopt);
}

TEST(SearchPath, FolderGoesLastSoEveryEarlierEntryStillComesFirst)
{
    EXPECT_EQ(pathWithFolderAppended("C:\\windows\\system32;C:\\windows", "D:\\Quellan"),
              "C:\\windows\\system32;C:\\windows;D:\\Quellan");
    EXPECT_EQ(pathWithFolderAppended("C:\\bin;", "D:\\Quellan"), "C:\\bin;D:\\Quellan");
    EXPECT_EQ(pathWithFolderAppended("", "D:\\Quellan"), "D:\\Quellan");
    EXPECT_EQ(pathWithFolderAppended("C:\\bin", "D:\\ソフト 表"), "C:\\bin;D:\\ソフト 表");
    // ソ ends the first path as one character; before ';', which is no
    // second byte, 0x81 stands alone and the ';' ends the path.
    EXPECT_EQ(pathWithFolderAppended("C:\\ソ", "D:\\q"), "C:\\ソ;D:\\q");
    EXPECT_EQ(pathWithFolderAppended("C:\\\x81;", "D:\\q"), "C:\\\x81;D:\\q");
}

TEST(SearchPath, AFolderHoldingASeparatorIsQuoted)
{
    EXPECT_EQ(pathWithFolderAppended("C:\\bin", "D:\\a;b"), "C:\\bin;\"D:\\a;b\"");
    // ...and is then found as one entry.
    EXPECT_EQ(pathWithFolderAppended("C:\\bin;\"D:\\a;b\"", "D:\\a;b"), std::nullopt);
}

TEST(SearchPath, AFolderAlreadyOnThePathIsNotAddedTwice)
{
    EXPECT_EQ(pathWithFolderAppended("C:\\bin;D:\\Quellan", "D:\\Quellan"), std::nullopt);
    EXPECT_EQ(pathWithFolderAppended("d:\\quellan\\;C:\\bin", "D:\\Quellan"), std::nullopt);
    EXPECT_EQ(pathWithFolderAppended("\"D:\\Quellan\"", "D:\\Quellan"), std::nullopt);
    EXPECT_EQ(pathWithFolderAppended("C:\\", "C:\\"), std::nullopt);
    // Letters inside double-byte characters are not folded: ア is 0x83 0x41, ビ 0x83 0x72.
    EXPECT_EQ(pathWithFolderAppended("D:\\\x83\x41", "D:\\\x83\x61"), "D:\\\x83\x41;D:\\\x83\x61");
    EXPECT_EQ(pathWithFolderAppended("D:\\Quellan2", "D:\\Quellan"), "D:\\Quellan2;D:\\Quellan");
}

TEST(SearchPath, NothingIsAddedThatCouldNotBeWrittenWhole)
{
    EXPECT_EQ(pathWithFolderAppended("C:\\bin", ""), std::nullopt);
    EXPECT_EQ(pathWithFolderAppended("C:\\bin", "D:\\a\"b"), std::nullopt);

    // The limit counts characters: one double-byte character is one.
    const std::string folder = "D:\\表";                        // 4 characters, 5 bytes
    const std::string fits(maxEnvironmentValueLength - 5, 'x'); // + ';' + folder = the limit
    const std::optional<std::string> atLimit = pathWithFolderAppended(fits, folder);
    ASSERT_TRUE(atLimit.has_value());
    EXPECT_EQ(atLimit->size(), maxEnvironmentValueLength + 1);
    EXPECT_EQ(pathWithFolderAppended(fits + "x", folder), std::nullopt);
    EXPECT_EQ(pathWithFolderAppended(std::string(40000, 'x'), folder), std::nullopt);
}

} // namespace
} // namespace quellan
