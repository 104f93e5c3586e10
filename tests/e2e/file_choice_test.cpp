// Choosing the file to dump through the system's open-file dialog: where the
// dialog appears, what the status bar then shows, and what reaches the dump
// command.

#include "control_ids.h"
#include "quellan_driver.h"
#include "screenshot.h"

#include <gtest/gtest.h>

namespace quellan::e2e {
namespace {

using namespace controls;

// Controls of the explorer-style dialog, by the identifiers Windows gives them.
constexpr int shellView = 0x461;   // the file list
constexpr int fileTypeBox = 0x470; // the file-type entries
constexpr int readOnlyBox = 0x410; // "open as read-only"

// The texts of a combo box's entries. (Read as UTF-16 and converted: the
// ANSI message gives raw UTF-16 across processes under Wine.)
std::vector<std::string> entries(HWND combo)
{
    std::vector<std::string> texts;
    const auto count = test::sendOrThrow(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t wide[256] = {};
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(wide));
        char text[512] = {};
        WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
        texts.emplace_back(text);
    }
    return texts;
}

// Selects a file-type entry as a choice in the list does: the selection
// changes, then the list reports it as made.
void selectFileType(const OpenFileDialog& dialog, int index)
{
    HWND combo = GetDlgItem(dialog.handle(), fileTypeBox);
    test::sendOrThrow(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    for (const int notification : {CBN_SELCHANGE, CBN_SELENDOK}) {
        test::sendOrThrow(dialog.handle(), WM_COMMAND,
                          MAKEWPARAM(fileTypeBox, static_cast<WORD>(notification)),
                          reinterpret_cast<LPARAM>(combo));
    }
}

std::string lastInterpreterCommand(const Sandbox& sandbox)
{
    const std::vector<std::string> lines = sandbox.commandLines("cmd-recorder");
    return lines.empty() ? std::string() : lines.back();
}

TEST(FileChoice, DialogIsModalOwnedByTheApplicationAndPlacedOnTheFormsMonitor)
{
    const Sandbox sandbox;
    const RunningQuellan app(sandbox, recordingLaunch(sandbox));
    const std::string input = sandbox.work() + "\\first.bin";
    test::writeFile(input, "MZ");

    app.postClick(Button3);
    const OpenFileDialog dialog = app.waitForOpenDialog();
    EXPECT_EQ(GetWindow(dialog.handle(), GW_OWNER), app.application());
    EXPECT_NE(GetDlgItem(dialog.handle(), shellView), nullptr) << "not an explorer-style dialog";
    EXPECT_FALSE(IsWindowEnabled(app.form())) << "the form takes no input while the dialog is open";

    // Centred across the monitor, a third of the free height above it.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoA(MonitorFromWindow(app.form(), MONITOR_DEFAULTTONEAREST), &monitor);
    RECT bounds{};
    GetWindowRect(dialog.handle(), &bounds);
    const RECT& screen = monitor.rcMonitor;
    EXPECT_EQ(bounds.left,
              screen.left + ((screen.right - screen.left) - (bounds.right - bounds.left)) / 2);
    EXPECT_EQ(bounds.top,
              screen.top + ((screen.bottom - screen.top) - (bounds.bottom - bounds.top)) / 3);

    app.bringToTop(dialog.handle());
    test::saveScreenshot(dialog.handle(), "e2e-open-dialog");

    // Cancelled before anything was chosen: still nothing to run.
    dialog.cancel();
    app.waitUntilClosed(dialog.handle());
    EXPECT_TRUE(IsWindowEnabled(app.form()));
    EXPECT_EQ(app.statusText(), "");
    EXPECT_FALSE(app.isEnabled(Button1));

    app.chooseFile(input);
    const std::string chosenStatus = asciiUpper(input);
    EXPECT_EQ(app.statusText(), chosenStatus);
    EXPECT_TRUE(app.isEnabled(Button1));
    app.bringToTop(app.form());
    test::saveScreenshot(app.form(), "e2e-file-chosen");

    // Cancelled after a choice: the choice stands, in the status bar and in
    // the command.
    app.postClick(Button3);
    const OpenFileDialog again = app.waitForOpenDialog();
    again.typeFileName(sandbox.work() + "\\other.bin");
    again.cancel();
    app.waitUntilClosed(again.handle());
    EXPECT_EQ(app.statusText(), chosenStatus);
    EXPECT_TRUE(app.isEnabled(Button1));
    app.runAndWait(sandbox, 1);
    EXPECT_EQ(lastInterpreterCommand(sandbox), sandbox.interpreter() + " /C tdump -h " + input +
                                                   " " + sandbox.work() + "\\Temp.txt");
}

TEST(FileChoice, DialogOffersTwoFileTypesAddsNoExtensionAndRemembersTheLastChoice)
{
    const Sandbox sandbox;
    const RunningQuellan app(sandbox, recordingLaunch(sandbox));
    const std::string elsewhere = sandbox.makeFolder("elsewhere");
    const std::string chosen = elsewhere + "\\noext";

    app.postClick(Button3);
    const OpenFileDialog dialog = app.waitForOpenDialog();
    EXPECT_EQ(entries(GetDlgItem(dialog.handle(), fileTypeBox)),
              (std::vector<std::string>{"全てのファイル(*.*)", "テキストファイル(*.txt)"}));
    HWND readOnly = GetDlgItem(dialog.handle(), readOnlyBox);
    EXPECT_TRUE(readOnly == nullptr || !IsWindowVisible(readOnly)) << "no read-only box";
    EXPECT_NE(GetWindowLongA(dialog.handle(), GWL_STYLE) & WS_THICKFRAME, 0) << "not resizable";
    // A name without extension, with the text files' entry selected.
    dialog.browseTo(elsewhere);
    selectFileType(dialog, 1);
    dialog.typeFileName("noext");
    dialog.confirm();
    app.waitUntilClosed(dialog.handle());
    EXPECT_EQ(app.statusText(), asciiUpper(chosen)) << "no extension added";

    // The dialog moved the current folder, where the dump now runs; the
    // start folder was taken once, and ticking again still proposes it.
    app.click(CheckBox1);
    app.click(CheckBox1);
    EXPECT_EQ(app.text(Edit1), sandbox.work() + "\\Temp.txt");
    app.runAndWait(sandbox, 1);
    EXPECT_EQ(sandbox.events("start", "cmd-recorder").back().directory, elsewhere);

    // Opened again: the last name and file type. Cancelled with others
    // chosen, neither changes.
    for (int round = 0; round < 2; ++round) {
        app.postClick(Button3);
        const OpenFileDialog again = app.waitForOpenDialog();
        const std::string name = again.fileName();
        EXPECT_EQ(name.substr(name.rfind('\\') + 1), "noext") << name;
        EXPECT_EQ(test::sendOrThrow(GetDlgItem(again.handle(), fileTypeBox), CB_GETCURSEL, 0, 0),
                  1);
        selectFileType(again, 0);
        again.typeFileName("other.bin");
        again.cancel();
        app.waitUntilClosed(again.handle());
        EXPECT_EQ(app.statusText(), asciiUpper(chosen));
    }
}

TEST(FileChoice, StatusBarUpperCasesSingleByteLettersAndTheCommandKeepsTheNameAsChosen)
{
    const Sandbox sandbox;
    const RunningQuellan app(sandbox, recordingLaunch(sandbox));
    const std::string& folder = sandbox.work();
    const std::string list = folder + "\\Temp.txt";

    struct Choice {
        const char* name;
        const char* status; // how the status bar shows the name
        bool quoted;        // whether the command quotes the path
        bool exists;
    };
    // フ and 表 end in the bytes of "t" and "\": they are characters of
    // their own, never letters or separators. Full-width and half-width
    // kana are not single-byte a..z either.
    const Choice choices[] = {
        {"lower case.exe", "LOWER CASE.EXE", true, true},
        {"フtest表ａｶﾅz.dll", "フTEST表ａｶﾅZ.DLL", false, true},
        {"not-there.obj", "NOT-THERE.OBJ", false, false},
    };

    std::size_t runs = 0;
    for (const Choice& choice : choices) {
        SCOPED_TRACE(choice.name);
        const std::string path = folder + "\\" + choice.name;
        if (choice.exists) {
            test::writeFile(path, "MZ");
        }
        app.chooseFile(path);
        EXPECT_EQ(app.statusText(), asciiUpper(folder) + "\\" + choice.status);
        EXPECT_TRUE(app.isEnabled(Button1));

        app.runAndWait(sandbox, ++runs);
        const std::string argument = choice.quoted ? "\"" + path + "\"" : path;
        std::string expected = sandbox.interpreter();
        expected += " /C tdump -h ";
        expected += argument;
        expected += " ";
        expected += list;
        EXPECT_EQ(lastInterpreterCommand(sandbox), expected);
    }
}

} // namespace
} // namespace quellan::e2e
