// What Explorer and the task bar read from Quellan.exe: the version
// information and the 32 x 32, 16-colour main icon.

#include "test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace quellan {
namespace {

const std::string quellanExe = test::programFolder() + "\\Quellan.exe";

TEST(Resources, VersionInformationNamesQuellan111)
{
    const test::VersionInfo version = test::readVersionInfo(quellanExe);
    EXPECT_EQ(version.fileVersionMS, MAKELONG(1, 1));
    EXPECT_EQ(version.fileVersionLS, MAKELONG(0, 1));
    EXPECT_EQ(version.fileVersion, "1.1.1.0");
    EXPECT_EQ(version.productVersion, "1.1 1999.12");
    EXPECT_EQ(version.originalFilename, "Quellan.exe");
    EXPECT_EQ(version.productName, "Quellan");
}

TEST(Resources, MainIconIs32By32With16Colours)
{
    HMODULE module = LoadLibraryExA(quellanExe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    // The icon group's first entry describes the image.
    HRSRC group = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(14)); // RT_GROUP_ICON
    ASSERT_NE(group, nullptr);
    const auto* directory = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
    ASSERT_NE(directory, nullptr);
    const WORD count = static_cast<WORD>(directory[4] | directory[5] << 8);
    ASSERT_GE(count, 1);
    const BYTE* entry = directory + 6;
    EXPECT_EQ(entry[0], 32);                // width
    EXPECT_EQ(entry[1], 32);                // height
    EXPECT_EQ(entry[2], 16);                // colours
    EXPECT_EQ(entry[6] | entry[7] << 8, 4); // bits per pixel
    FreeLibrary(module);
}

} // namespace
} // namespace quellan
