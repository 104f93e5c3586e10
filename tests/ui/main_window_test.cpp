// The main window in the test process: its first activation, which nothing
// repeats, the option group, and failures that end in the box.

#include "control_ids.h"
#include "error_display.h"
#include "exception.h"
#include "ui_test_support.h"

#include <gtest/gtest.h>

#include <vector>

namespace quellan {
namespace {

using namespace controls;

std::vector<int> radioTabStops(const test::FormUnderTest& ui)
{
    std::vector<int> rows;
    for (int row = 1; row <= 28; ++row) {
        if ((GetWindowLongA(ui.item(radioButton(row)), GWL_STYLE) & WS_TABSTOP) != 0) {
            rows.push_back(row);
        }
    }
    return rows;
}

using MainWindow = test::ShownForm;

// What a thread-local CBT hook saw of the form: creation of the rich edit
// control refused, and when the form was destroyed, whether the fonts its
// controls were drawn with still existed.
struct Teardown {
    int controlsWithFonts = 0;
    int withDeletedFonts = 0;
};
Teardown* teardown = nullptr;

BOOL CALLBACK checkFont(HWND control, LPARAM)
{
    const auto font = reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0));
    if (font != nullptr) {
        ++teardown->controlsWithFonts;
        teardown->withDeletedFonts += GetObjectType(font) != OBJ_FONT ? 1 : 0;
    }
    return TRUE;
}

LRESULT CALLBACK refuseRichEditAndWatchTeardown(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        const char* className = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs->lpszClass;
        if (!IS_INTRESOURCE(className) && lstrcmpiA(className, "RICHEDIT") == 0) {
            return 1; // the window is not created
        }
    } else if (code == HCBT_DESTROYWND) {
        const auto window = reinterpret_cast<HWND>(wParam);
        char className[16] = {};
        GetClassNameA(window, className, sizeof className);
        if (lstrcmpA(className, "TForm1") == 0) {
            EnumChildWindows(window, checkFont, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// A control that cannot be created ends the form's construction; what it
// made so far goes in the order the destructor keeps: windows first.
TEST(MainWindowStartUp, AFailedStartUpDestroysTheControlsBeforeTheirFonts)
{
    Teardown seen;
    teardown = &seen;
    Application application(GetModuleHandleA(nullptr));
    HHOOK hook =
        SetWindowsHookExA(WH_CBT, refuseRichEditAndWatchTeardown, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    EXPECT_THROW(TForm1 form(application), Exception);
    UnhookWindowsHookEx(hook);
    teardown = nullptr;
    EXPECT_GT(seen.controlsWithFonts, 5);
    EXPECT_EQ(seen.withDeletedFonts, 0);
}

TEST_F(MainWindow, FirstActivationInitialisesAndLeavesNoControlFocused)
{
    EXPECT_EQ(ui.text(radioButton(1)), "-a      ASCII file display");
    EXPECT_FALSE(IsWindowEnabled(ui.item(Button1)));
    EXPECT_FALSE(IsWindowEnabled(ui.item(Button4)));
    EXPECT_EQ(GetFocus(), ui.window()) << "the focus rests on the window itself";
    EXPECT_EQ(ui.form.dumpState().listFileName, ui.text(Edit1));
}

// What the first activation resets (the run button, the list file name)
// stays as the user left it through a minimise and restore and a visit to
// another window.
TEST_F(MainWindow, MinimiseHidesTheFormRestoreShowsItAndNothingInitialisesAgain)
{
    EnableWindow(ui.item(Button1), TRUE);
    SetWindowTextA(ui.item(Edit1), "C:\\mine.txt");

    SendMessageA(ui.window(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ui.runLoop(200);
    EXPECT_TRUE(IsIconic(ui.application.handle()));
    EXPECT_FALSE(IsWindowVisible(ui.window())) << "the form goes with the application";

    // What a click on the task-bar entry does.
    SendMessageA(ui.application.handle(), WM_SYSCOMMAND, SC_RESTORE, 0);
    ui.runLoop(200);
    EXPECT_FALSE(IsIconic(ui.application.handle()));
    EXPECT_TRUE(IsWindowVisible(ui.window()));
    EXPECT_FALSE(IsIconic(ui.window()));

    HWND other = CreateWindowExA(0, "STATIC", "another program", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(other);
    ui.runLoop(100);
    SetForegroundWindow(ui.window());
    ui.runLoop(100);
    DestroyWindow(other);

    EXPECT_TRUE(IsWindowEnabled(ui.item(Button1)));
    EXPECT_EQ(ui.text(Edit1), "C:\\mine.txt");
    EXPECT_EQ(ui.form.dumpState().listFileName, "C:\\mine.txt");
}

TEST_F(MainWindow, OptionGroupHasOneCheckAndOneTabStopThatMoveTogether)
{
    EXPECT_EQ(ui.checkedRow(), 15);
    EXPECT_EQ(radioTabStops(ui), std::vector<int>{15});
    EXPECT_EQ(ui.form.dumpState().currentSwitch, "-h");

    SendMessageA(ui.item(radioButton(8)), BM_CLICK, 0, 0);
    EXPECT_EQ(ui.checkedRow(), 8);
    EXPECT_EQ(radioTabStops(ui), std::vector<int>{8});
    EXPECT_EQ(ui.form.dumpState().currentSwitch, "-ee");

    SendMessageA(ui.item(radioButton(8)), BM_CLICK, 0, 0); // already checked: no change
    EXPECT_EQ(ui.checkedRow(), 8);
    EXPECT_EQ(ui.form.dumpState().currentSwitch, "-ee");
}

TEST(ErrorDisplayText, FullStopIsAddedAfterAnyCharacterThatSortsAfterIt)
{
    struct Case {
        const char* message;
        const char* shown;
    };
    const Case cases[] = {
        {"", ""},
        {"Failed.", "Failed."},
        {"Failed!", "Failed!"},
        {"Failed ", "Failed "},
        {"Failed-", "Failed-"},
        {"Failed/", "Failed/."},
        {"Failed", "Failed."},
        {"失敗です。", "失敗です。."},
        {"Win32 API 呼び出しに失敗しました", "Win32 API 呼び出しに失敗しました."},
        {"Win32 エラー。コード : 2.\nファイルが見つかりません。",
         "Win32 エラー。コード : 2.\nファイルが見つかりません。."},
        {"Win32 エラー。コード : 536936447.\n", "Win32 エラー。コード : 536936447.\n"},
        {"x\xB1", "x\xB1."}, // half-width katakana: one byte above "."
        {"x\x83", "x\x83."}, // a lone lead byte at the end
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ErrorDisplay::withFullStop(c.message), c.shown) << c.message;
    }
}

TEST_F(MainWindow, ErrorBoxIsCaptionedOwnedModalAndGivesTheWindowBack)
{
    std::string text;
    bool mainDisabled = false;
    HWND owner = nullptr;
    bool hasStopIcon = false;
    {
        test::MessageBoxWatcher watcher([&](HWND box) {
            text = test::windowText(GetDlgItem(box, 0xFFFF));
            mainDisabled = !IsWindowEnabled(ui.window());
            owner = GetWindow(box, GW_OWNER);
            // The box's icon is a static showing the system's stop icon.
            HICON stop = LoadIconA(nullptr, MAKEINTRESOURCEA(32513)); // IDI_HAND
            for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
                 child = GetWindow(child, GW_HWNDNEXT)) {
                if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
                    reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0)) == stop) {
                    hasStopIcon = true;
                }
            }
        });
        ui.application.showException("失敗です。");
        EXPECT_TRUE(watcher.sawBox());
    }
    EXPECT_EQ(text, "失敗です。.");
    EXPECT_TRUE(mainDisabled) << "the main window is disabled while the box is shown";
    EXPECT_EQ(owner, ui.application.handle());
    EXPECT_TRUE(hasStopIcon);
    EXPECT_TRUE(IsWindowEnabled(ui.window()));
    EXPECT_EQ(GetActiveWindow(), ui.window());
}

TEST_F(MainWindow, AFailureInAHandlerEndsInTheBoxAndKeepsTheState)
{
    SendMessageA(ui.item(radioButton(10)), BM_CLICK, 0, 0);
    EnableWindow(ui.item(Button1), TRUE);
    char saved[1024];
    const DWORD length = GetEnvironmentVariableA("Comspec", saved, sizeof saved);
    SetEnvironmentVariableA("Comspec", nullptr);
    std::string text;
    {
        test::MessageBoxWatcher watcher(
            [&](HWND box) { text = test::windowText(GetDlgItem(box, 0xFFFF)); });
        SendMessageA(ui.item(Button1), BM_CLICK, 0, 0);
        EXPECT_TRUE(watcher.sawBox());
    }
    SetEnvironmentVariableA("Comspec", length > 0 ? saved : nullptr);
    EXPECT_EQ(text,
              "環境変数 Comspec が設定されていません。コマンドインタプリタを起動できません。.");
    EXPECT_TRUE(IsWindow(ui.window()));
    EXPECT_EQ(ui.form.dumpState().currentSwitch, "-em.");
    EXPECT_FALSE(IsWindowEnabled(ui.item(Button4))) << "the failed run enabled nothing";
    EXPECT_TRUE(IsWindowEnabled(ui.window()));
}

} // namespace
} // namespace quellan
