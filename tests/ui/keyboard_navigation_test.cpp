// Keys as the program's loop hands them to the form: Tab and Shift+Tab in
// the designed tab order, the arrow keys within the option group, and no
// key that presses a button for the user.

#include "control_ids.h"
#include "ui_test_support.h"

#include <gtest/gtest.h>

#include <vector>

namespace quellan {
namespace {

using namespace controls;
using KeyboardNavigation = test::ShownForm;

int focusedId()
{
    return GetDlgCtrlID(GetFocus());
}

TEST_F(KeyboardNavigation, TabVisitsTheControlsInTabOrderAndShiftTabGoesBack)
{
    EnableWindow(ui.item(Button1), TRUE);
    EnableWindow(ui.item(Button4), TRUE);
    SetFocus(ui.item(Button1));
    const std::vector<int> order = {Button2, Button3, radioButton(15), CheckBox1,
                                    Edit1,   Button4, RichEdit1,       Button1};
    for (const int id : order) {
        ui.pressKey(VK_TAB);
        EXPECT_EQ(focusedId(), id);
    }
    for (auto id = order.rbegin() + 1; id != order.rend(); ++id) {
        ui.pressKey(VK_TAB, true);
        EXPECT_EQ(focusedId(), *id);
    }
}

TEST_F(KeyboardNavigation, TabSkipsDisabledControlsAndSelectsTheEditBoxsText)
{
    SetFocus(ui.item(Button2));
    ui.pressKey(VK_TAB, true); // Button1 is disabled: back round to RichEdit1
    EXPECT_EQ(focusedId(), RichEdit1);
    ui.pressKey(VK_TAB, true);
    EXPECT_EQ(focusedId(), Edit1) << "Button4 is disabled too";
    DWORD start = 1;
    DWORD end = 0;
    SendMessageA(ui.item(Edit1), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, ui.text(Edit1).size());
}

TEST_F(KeyboardNavigation, ArrowKeysMoveTheCheckWithinTheOptionGroup)
{
    SetFocus(ui.item(radioButton(15)));
    ui.pressKey(VK_DOWN);
    EXPECT_EQ(ui.checkedRow(), 16);
    EXPECT_EQ(focusedId(), radioButton(16));
    EXPECT_EQ(ui.form.dumpState().currentSwitch, "-iID");
    ui.pressKey(VK_UP);
    ui.pressKey(VK_LEFT);
    EXPECT_EQ(ui.form.dumpState().currentSwitch, "-ex");

    SetFocus(ui.item(radioButton(1)));
    ui.pressKey(VK_UP); // wraps round the group
    EXPECT_EQ(ui.checkedRow(), 28);
    EXPECT_EQ(ui.form.dumpState().currentSwitch, "-um");

    SetFocus(ui.item(Edit1));
    ui.pressKey(VK_DOWN);
    EXPECT_EQ(ui.checkedRow(), 28) << "outside the group the keys are the control's own";
    EXPECT_EQ(focusedId(), Edit1);
}

// No default and no cancel button: Return and Escape, given to the focused
// exit button, leave the window open.
TEST_F(KeyboardNavigation, ReturnAndEscapePressNoButton)
{
    SetFocus(ui.item(Button2));
    ui.pressKey(VK_RETURN);
    ui.pressKey(VK_ESCAPE);
    ui.runLoop(100);
    EXPECT_TRUE(IsWindow(ui.window()));
    EXPECT_EQ(focusedId(), Button2);
    // The exit button itself works, by the space bar as by a click.
    ui.pressKey(VK_SPACE);
    ui.runLoop(100);
    EXPECT_FALSE(IsWindow(ui.window()));
}

} // namespace
} // namespace quellan
