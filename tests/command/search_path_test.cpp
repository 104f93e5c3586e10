#include "search_path.h"

#include <gtest/gtest.h>

namespace quellan {
namespace {

TEST(SearchPath, ParentFolderSplitsAtTheLastRealBackslash)
{
    EXPECT_EQ(parentFolder("C:\\Tools\\Quellan.exe"), "C:\\Tools");
    EXPECT_EQ(parentFolder("C:\\Quellan.exe"), "C:\\"); // "C:" alone would be a current folder
    EXPECT_EQ(parentFolder("\\\\server\\share\\Quellan.exe"), "\\\\server\\share");
    // The second bytes of ソ and 表 are 0x5C.
    EXPECT_EQ(parentFolder("C:\\ソフト 表\\Quellan.exe"), "C:\\ソフト 表");
    EXPECT_EQ(parentFolder("C:\\a\\ソ"), "C:\\a");
    EXPECT_EQ(parentFolder("Quellan.exe"), "");
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
