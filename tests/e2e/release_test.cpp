// The release archive as a Windows user gets it: unpacked into a folder of
// its own, Quellan.exe started from there with the real cmd.exe as Comspec
// and nothing but the system's folders on PATH. The dump tool beside
// Quellan.exe must be found wherever the chosen file lies.

#include "control_ids.h"
#include "quellan_driver.h"
#include "screenshot.h"
#include "resources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace quellan::e2e {
namespace {

using namespace controls;

// The most characters an environment variable's value can hold.
constexpr std::size_t longestVariableValue = 32766;

// The viewer Quellan starts: the recorder as notepad.exe beside it, or the
// system's own notepad.exe.
enum class Viewer { Recorder, System };

// Started from its own folder, as a double-click starts it.
LaunchOptions userLaunch(const UnpackedRelease& release, const std::string& comspec,
                         Viewer viewer = Viewer::Recorder)
{
    if (viewer == Viewer::Recorder) {
        test::copyFile(test::programFolder() + "\\recorder.exe",
                       release.folder() + "\\notepad.exe");
    }
    LaunchOptions options;
    options.program = release.quellan();
    options.startDirectory = release.folder();
    options.comspec = comspec;
    options.path = systemPath();
    return options;
}

// A DLL with known exports, in a folder away from Quellan's.
std::string dllElsewhere(const Sandbox& sandbox)
{
    std::string dll = sandbox.makeFolder("my files") + "\\sample.dll";
    // (Chosen by browsing there, it becomes the current folder of the dump.)
    test::copyFile(test::programFolder() + "\\..\\tdump\\fixtures\\sample.dll", dll);
    return dll;
}

std::vector<std::string> filesIn(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// What the shipped tdump.exe writes for this dump when run directly.
std::string listingOf(const UnpackedRelease& release, const std::string& file)
{
    const std::string list = release.root() + "\\direct.txt";
    runHidden("\"" + release.folder() + "\\tdump.exe\" -ee \"" + file + "\" \"" + list + "\"");
    return test::readFile(list);
}

// The text of the system's notepad once it shows a file; throws when no
// notepad window shows one in time.
std::string textInTheSystemsViewer()
{
    for (const ULONGLONG start = test::nowMs(); test::nowMs() - start < stepTimeoutMs; Sleep(100)) {
        if (HWND notepad = FindWindowA("Notepad", nullptr)) {
            std::string text = windowText(FindWindowExA(notepad, nullptr, "Edit", nullptr));
            if (!text.empty()) {
                return text;
            }
        }
    }
    throw std::runtime_error("the system's notepad showed no file");
}

// Chooses a DLL in another folder, picks "-ee" and runs: the interpreter,
// whose current folder is now the DLL's, must find tdump.exe beside
// Quellan.exe, and the viewer must open what it wrote.
void expectTheShippedToolListsADllElsewhere(const UnpackedRelease& release, Viewer viewer,
                                            const std::string& screenshot)
{
    const Sandbox sandbox;
    const RunningQuellan app(sandbox, userLaunch(release, systemInterpreter(), viewer));
    const std::string dll = dllElsewhere(sandbox);
    app.chooseFileByBrowsing(dll);
    app.click(radioButton(8));
    app.postClick(Button1);

    const std::string list = release.folder() + "\\Temp.txt";
    std::string listing;
    if (viewer == Viewer::System) {
        // Given the name unquoted, blanks and all, it opens the listing.
        listing = textInTheSystemsViewer();
    } else {
        const std::vector<RecorderEvent> viewers = sandbox.waitForEvents("start", "notepad", 1);
        ASSERT_EQ(viewers.size(), 1u);
        // The dump ran there too, where no tdump.exe lies.
        EXPECT_EQ(viewers[0].directory, dll.substr(0, dll.rfind('\\')));
        EXPECT_EQ(viewers[0].commandLine, "notepad.exe " + list);
        listing = test::readFile(list);
    }
    for (const char* name :
         {"sample_add", "sample_multiply", "int sample::largest<int>(int, int)"}) {
        EXPECT_NE(listing.find(name), std::string::npos) << name << " missing from:\n" << listing;
    }
    EXPECT_EQ(listing, listingOf(release, dll));
    app.sync();
    app.bringToTop(app.form());
    test::saveScreenshot(app.form(), screenshot);
}

TEST(Release, TheToolBesideQuellanListsADllChosenInAnotherFolder)
{
    expectTheShippedToolListsADllElsewhere(UnpackedRelease(), Viewer::Recorder,
                                           "e2e-release-dumped");
}

TEST(Release, QuellanUnpackedIntoAFolderWithBlanksAndJapaneseNamesFindsItsTool)
{
    // ソ and 表 end in the byte of '\'. The system's notepad opens the
    // listing there.
    expectTheShippedToolListsADllElsewhere(UnpackedRelease("ソフト 表示 ツール"), Viewer::System,
                                           "e2e-release-japanese-folder");
}

TEST(Release, ATdumpTheUserHasOnPathComesFirst)
{
    const Sandbox sandbox;
    const UnpackedRelease release;
    const std::string tools = sandbox.makeFolder("user tools");
    sandbox.installDumpTool(tools);
    LaunchOptions options = userLaunch(release, systemInterpreter());
    options.path = tools + ";" + *options.path;
    const RunningQuellan app(sandbox, options);
    const std::string dll = dllElsewhere(sandbox);
    app.chooseFileByBrowsing(dll);
    app.click(radioButton(8));
    app.runAndWait(sandbox, 1, "tdump");

    const std::vector<RecorderEvent> dumps = sandbox.events("start", "tdump");
    ASSERT_EQ(dumps.size(), 1u);
    const std::string list = release.folder() + "\\Temp.txt";
    EXPECT_EQ(splitCommandLine(dumps[0].commandLine),
              (std::vector<std::string>{"tdump", "-ee", dll, list}));
    EXPECT_EQ(dumps[0].directory, dll.substr(0, dll.rfind('\\')));
    // Quellan's folder went on at the end, behind the user's own.
    EXPECT_EQ(dumps[0].path, *options.path + ";" + release.folder());
    EXPECT_EQ(test::readFile(list).rfind("argc=3\r\n", 0), 0u) << "not written by the user's tool";
}

// The interpreter (here the recorder) shows the PATH that Quellan hands on.
TEST(Release, PathGainsQuellansFolderOnlyWhenTheToolIsThereAndThereIsRoom)
{
    const UnpackedRelease release;
    const std::string system = systemPath();
    // One character longer than leaves room for ";" and the folder.
    const std::string full(longestVariableValue - release.folder().size(), 'x');
    struct Case {
        const char* what;
        bool toolBeside;
        std::string path;
        std::string seen;
    };
    const Case cases[] = {
        {"tool beside", true, system, system + ";" + release.folder()},
        {"no room", true, full, full},
        {"no tool beside", false, system, system},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string tool = release.folder() + "\\tdump.exe";
        const std::string hidden = release.root() + "\\tdump.exe";
        if (!c.toolBeside) {
            ASSERT_TRUE(MoveFileA(tool.c_str(), hidden.c_str()));
        }
        const Sandbox sandbox;
        LaunchOptions options = userLaunch(release, sandbox.interpreter());
        options.path = c.path;
        {
            const RunningQuellan app(sandbox, options);
            app.chooseFileByBrowsing(dllElsewhere(sandbox));
            app.runAndWait(sandbox, 1);
        }
        const std::vector<RecorderEvent> runs = sandbox.events("start", "cmd-recorder");
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].path, c.seen);
        if (!c.toolBeside) {
            ASSERT_TRUE(MoveFileA(hidden.c_str(), tool.c_str()));
        }
    }
}

bool linesEndInCrLf(const std::string& text)
{
    for (std::size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i + 1)) {
        if (i == 0 || text[i - 1] != '\r') {
            return false;
        }
    }
    return text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0;
}

// A program linked without its symbol table, as the release build is.
bool isStripped(const std::string& program)
{
    const std::string image = test::readFile(program);
    if (image.size() < 0x40) {
        return false;
    }
    const auto dword = [&](std::size_t at) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < 4 && at + i < image.size(); ++i) {
            value |= static_cast<std::uint32_t>(static_cast<unsigned char>(image[at + i]))
                     << (8 * i);
        }
        return value;
    };
    const std::size_t fileHeader = dword(0x3C) + 4;                   // after "PE\0\0"
    return dword(fileHeader + 8) == 0 && dword(fileHeader + 12) == 0; // symbol table, symbols
}

TEST(Release, ArchiveHoldsTheReleaseProgramsAndTheTextsForWindowsUsers)
{
    const std::string archive = releaseArchive();
    EXPECT_EQ(archive.substr(archive.rfind('\\') + 1),
              "Quellan-" QUELLAN_FILE_VERSION_TEXT "-win64.zip");
    const UnpackedRelease release;
    EXPECT_EQ(filesIn(release.root()),
              (std::vector<std::string>{"Quellan-" QUELLAN_FILE_VERSION_TEXT "-win64"}));
    EXPECT_EQ(filesIn(release.folder()),
              (std::vector<std::string>{"LICENSE.txt", "Quellan.exe", "README-ja.txt", "README.txt",
                                        "tdump.exe"}));

    for (const char* name : {"Quellan.exe", "tdump.exe"}) {
        SCOPED_TRACE(name);
        const std::string program = release.folder() + "\\" + name;
        const test::VersionInfo version = test::readVersionInfo(program);
        EXPECT_EQ(version.fileVersion, "1.1.1.0");
        EXPECT_EQ(version.productVersion, "1.1 1999.12");
        EXPECT_EQ(version.originalFilename, name);
        EXPECT_EQ(version.fileFlags & VS_FF_DEBUG, 0u);
        EXPECT_TRUE(isStripped(program));
    }

    // The read-me is code page 932 text for Notepad: every byte decodes.
    const std::string readme = test::readFile(release.folder() + "\\README-ja.txt");
    const int units = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, readme.data(),
                                          static_cast<int>(readme.size()), nullptr, 0);
    ASSERT_GT(units, 0) << "README-ja.txt is not code page 932";
    std::wstring text(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, readme.data(), static_cast<int>(readme.size()),
                        text.data(), units);
    for (const wchar_t* phrase : {L"お読みください", L"Quellan.exe", L"tdump.exe", L"レジストリ",
                                  L"［実　行］", L"Temp.txt", L"削除", L"LICENSE.txt"}) {
        EXPECT_NE(text.find(phrase), std::wstring::npos);
    }
    EXPECT_TRUE(linesEndInCrLf(readme));

    const std::string licence = test::readFile(release.folder() + "\\LICENSE.txt");
    EXPECT_EQ(licence.rfind("MIT License\r\n", 0), 0u);
    EXPECT_TRUE(linesEndInCrLf(licence));
    const std::string english = test::readFile(release.folder() + "\\README.txt");
    EXPECT_EQ(english.rfind("# Quellan\r\n", 0), 0u);
    EXPECT_TRUE(linesEndInCrLf(english));
}

} // namespace
} // namespace quellan::e2e
