// The main window in the test process: keyboard navigation, the option
// group, resizing and scrolling, and failures that end in the box.

#include "control_ids.h"
#include "error_display.h"
#include "ui_test_support.h"

#include <gtest/gtest.h>

#include <vector>

namespace quellan {
namespace {

using namespace controls;

// Sends a key as the message loop would see it, with Shift held or not.
bool pressKey(TForm1& form, WPARAM key, bool shift = false)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    MSG message{};
    message.hwnd = GetFocus() != nullptr ? GetFocus() : form.handle();
    message.message = WM_KEYDOWN;
    message.wParam = key;
    const bool handled = form.isDialogKey(message);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    return handled;
}

int checkedRow(const test::FormUnderTest& ui)
{
    for (int row = 1; row <= 28; ++row) {
        if (SendMessageA(ui.item(radioButton(row)), BM_GETCHECK, 0, 0) == BST_CHECKED) {
            return row;
        }
    }
    return 0;
}

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

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override { ui.show(); }
    test::FormUnderTest ui;
};

TEST_F(MainWindow, FirstActivationInitialisesAndLeavesNoControlFocused)
{
    EXPECT_EQ(ui.text(radioButton(1)), "-a      ASCII file display");
    EXPECT_FALSE(IsWindowEnabled(ui.item(Button1)));
    EXPECT_FALSE(IsWindowEnabled(ui.item(Button4)));
    EXPECT_EQ(GetFocus(), ui.window()) << "the focus rests on the window itself";
    EXPECT_EQ(ui.form.dumpState().listFileName, ui.text(Edit1));
}

TEST_F(MainWindow, TabVisitsTheControlsInTabOrderAndShiftTabGoesBack)
{
    EnableWindow(ui.item(Button1), TRUE);
    EnableWindow(ui.item(Button4), TRUE);
    SetFocus(ui.item(Button1));
    const std::vector<int> order = {Button2, Button3, radioButton(15), CheckBox1,
                                    Edit1,   Button4, RichEdit1,       Button1};
    for (const int id : order) {
        EXPECT_TRUE(pressKey(ui.form, VK_TAB));
        EXPECT_EQ(GetDlgCtrlID(GetFocus()), id);
    }
    for (auto id = order.rbegin() + 1; id != order.rend(); ++id) {
        EXPECT_TRUE(pressKey(ui.form, VK_TAB, true));
        EXPECT_EQ(GetDlgCtrlID(GetFocus()), *id);
    }
}

TEST_F(MainWindow, TabSkipsDisabledControls)
{
    SetFocus(ui.item(Button2));
    pressKey(ui.form, VK_TAB, true); // Button1 is disabled: back round to RichEdit1
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), RichEdit1);
    pressKey(ui.form, VK_TAB, true);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), Edit1) << "Button4 is disabled too";
}

TEST_F(MainWindow, OptionGroupHasOneCheckAndOneTabStopThatMoveTogether)
{
    EXPECT_EQ(checkedRow(ui), 15);
    EXPECT_EQ(radioTabStops(ui), std::vector<int>{15});
    EXPECT_EQ(ui.form.dumpState().currentSwitch, "-h");

    SendMessageA(ui.item(radioButton(8)), BM_CLICK, 0, 0);
    EXPECT_EQ(checkedRow(ui), 8);
    EXPECT_EQ(radioTabStops(ui), std::vector<int>{8});
    EXPECT_EQ(ui.form.dumpState().currentSwitch, "-ee");

    SendMessageA(ui.item(radioButton(8)), BM_CLICK, 0, 0); // already checked: no change
    EXPECT_EQ(checkedRow(ui), 8);
    EXPECT_EQ(ui.form.dumpState().currentSwitch, "-ee");
}

TEST_F(MainWindow, ArrowKeysMoveTheCheckWithinTheOptionGroup)
{
    SetFocus(ui.item(radioButton(15)));
    EXPECT_TRUE(pressKey(ui.form, VK_DOWN));
    EXPECT_EQ(checkedRow(ui), 16);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), radioButton(16));
    EXPECT_EQ(ui.form.dumpState().currentSwitch, "-iID");
    EXPECT_TRUE(pressKey(ui.form, VK_UP));
    EXPECT_TRUE(pressKey(ui.form, VK_UP));
    EXPECT_EQ(ui.form.dumpState().currentSwitch, "-ex");

    SetFocus(ui.item(radioButton(1)));
    EXPECT_TRUE(pressKey(ui.form, VK_UP)); // wraps round the group
    EXPECT_EQ(checkedRow(ui), 28);
    EXPECT_EQ(ui.form.dumpState().currentSwitch, "-um");

    SetFocus(ui.item(Edit1));
    EXPECT_FALSE(pressKey(ui.form, VK_DOWN)) << "outside the group the keys are the control's own";
}

TEST_F(MainWindow, ReturnAndEscapePressNoButton)
{
    SetFocus(ui.item(Button2));
    EXPECT_FALSE(pressKey(ui.form, VK_RETURN));
    EXPECT_FALSE(pressKey(ui.form, VK_ESCAPE));
    test::pumpMessages(100);
    EXPECT_TRUE(IsWindow(ui.window()));
}

TEST_F(MainWindow, ResizingMovesOnlyTheBarsAndAddsScrollBarsWhenTooSmall)
{
    const RECT optionBefore = ui.boundsInClient(radioButton(20));
    SetWindowPos(ui.window(), nullptr, 0, 0, 800, 900, SWP_NOMOVE | SWP_NOZORDER);
    test::pumpMessages();
    RECT client;
    GetClientRect(ui.window(), &client);
    EXPECT_EQ(ui.boundsInClient(Label2).right, client.right);
    EXPECT_EQ(ui.boundsInClient(StatusBar1).bottom, client.bottom);
    EXPECT_EQ(ui.boundsInClient(StatusBar1).right, client.right);
    const RECT optionAfter = ui.boundsInClient(radioButton(20));
    EXPECT_TRUE(EqualRect(&optionBefore, &optionAfter));
    EXPECT_EQ(GetWindowLongA(ui.window(), GWL_STYLE) & (WS_VSCROLL | WS_HSCROLL), 0);

    SetWindowPos(ui.window(), nullptr, 0, 0, 400, 400, SWP_NOMOVE | SWP_NOZORDER);
    test::pumpMessages();
    const LONG style = GetWindowLongA(ui.window(), GWL_STYLE);
    EXPECT_NE(style & WS_VSCROLL, 0);
    EXPECT_NE(style & WS_HSCROLL, 0);

    // Scrolling shifts the controls; the banner and the status bar keep to their edges.
    SendMessageA(ui.window(), WM_VSCROLL, SB_LINEDOWN, 0);
    test::pumpMessages();
    const int shift = GetScrollPos(ui.window(), SB_VERT);
    EXPECT_GT(shift, 0);
    EXPECT_EQ(ui.boundsInClient(radioButton(20)).top, optionBefore.top - shift);
    EXPECT_EQ(ui.boundsInClient(Label2).top, 0);
    GetClientRect(ui.window(), &client);
    EXPECT_EQ(ui.boundsInClient(StatusBar1).bottom, client.bottom);

    // Made large again, everything returns to its place.
    SetWindowPos(ui.window(), nullptr, 0, 0, 660, 823, SWP_NOMOVE | SWP_NOZORDER);
    test::pumpMessages();
    EXPECT_EQ(GetWindowLongA(ui.window(), GWL_STYLE) & (WS_VSCROLL | WS_HSCROLL), 0);
    const RECT optionBack = ui.boundsInClient(radioButton(20));
    EXPECT_TRUE(EqualRect(&optionBefore, &optionBack));
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

TEST(StartUpShowState, MaximisedAndMinimisedWithoutActivationAreTheOnlyExceptions)
{
    STARTUPINFOA startup{};
    EXPECT_EQ(Application::mainFormShowState(startup), SW_SHOWNORMAL);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    const std::pair<WORD, int> cases[] = {
        {SW_HIDE, SW_SHOWNORMAL},
        {SW_SHOWNORMAL, SW_SHOWNORMAL},
        {SW_SHOWMINIMIZED, SW_SHOWNORMAL},
        {SW_SHOWMAXIMIZED, SW_SHOWMAXIMIZED},
        {SW_SHOWMINNOACTIVE, SW_SHOWMINNOACTIVE},
        {SW_SHOWDEFAULT, SW_SHOWNORMAL},
    };
    for (const auto& [show, expected] : cases) {
        startup.wShowWindow = show;
        EXPECT_EQ(Application::mainFormShowState(startup), expected) << show;
    }
}

} // namespace
} // namespace quellan
