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

constexpr int shellView = 0x461; // the file list of an explorer-style dialog

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
