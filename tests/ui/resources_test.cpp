// What Explorer and the task bar read from Quellan.exe: the version
// information and the 32 x 32, 16-colour main icon.

#include "test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace quellan {
namespace {

const std::string quellanExe = test::programFolder() + "\\Quellan.exe";

std::string versionString(const std::vector<char>& info, const char* name)
{
    char* value = nullptr;
    UINT length = 0;
    const std::string path = std::string("\\StringFileInfo\\041103a4\\") + name;
    if (!VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) ||
        length == 0) {
        return {};
    }
    return std::string(value, length - 1);
}

TEST(Resources, VersionInformationNamesQuellan111)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(quellanExe.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(quellanExe.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(1, 1));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, 1));
    EXPECT_EQ(versionString(info, "FileVersion"), "1.1.1.0");
    EXPECT_EQ(versionString(info, "ProductVersion"), "1.1 1999.12");
    EXPECT_EQ(versionString(info, "OriginalFilename"), "Quellan.exe");
    EXPECT_EQ(versionString(info, "ProductName"), "Quellan");
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
