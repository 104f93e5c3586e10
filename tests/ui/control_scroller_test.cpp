// The form made larger and smaller: the banner and the status bar keep to
// their edges and stay above everything, the other controls keep their
// places or scroll together.

#include "control_ids.h"
#include "ui_test_support.h"

#include <gtest/gtest.h>

namespace quellan {
namespace {

using namespace controls;
using ControlScroller = test::ShownForm;

// Whether control is what the user sees at every point of its own rectangle.
bool uncovered(const test::FormUnderTest& ui, int id)
{
    const RECT bounds = ui.boundsInClient(id);
    for (LONG x = bounds.left + 1; x < bounds.right; x += 7) {
        for (LONG y = bounds.top + 1; y < bounds.bottom; y += 5) {
            if (ChildWindowFromPointEx(ui.window(), {x, y}, CWP_SKIPINVISIBLE) != ui.item(id)) {
                return false;
            }
        }
    }
    return true;
}

TEST_F(ControlScroller, ResizingMovesOnlyTheBarsAndAddsScrollBarsWhenTooSmall)
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

    // Scrolling shifts the controls; the banner and the status bar keep to
    // their edges, and no control that scrolls under them covers them.
    for (int line = 0; line < 12; ++line) {
        SendMessageA(ui.window(), WM_VSCROLL, SB_LINEDOWN, 0);
        test::pumpMessages();
        const int shift = GetScrollPos(ui.window(), SB_VERT);
        EXPECT_EQ(ui.boundsInClient(radioButton(20)).top, optionBefore.top - shift);
        EXPECT_EQ(ui.boundsInClient(Label2).top, 0);
        GetClientRect(ui.window(), &client);
        EXPECT_EQ(ui.boundsInClient(StatusBar1).bottom, client.bottom);
        EXPECT_TRUE(uncovered(ui, StatusBar1)) << "scrolled " << shift;
        EXPECT_TRUE(uncovered(ui, Label2)) << "scrolled " << shift;
    }

    // Made large again, everything returns to its place.
    SetWindowPos(ui.window(), nullptr, 0, 0, 660, 823, SWP_NOMOVE | SWP_NOZORDER);
    test::pumpMessages();
    EXPECT_EQ(GetWindowLongA(ui.window(), GWL_STYLE) & (WS_VSCROLL | WS_HSCROLL), 0);
    const RECT optionBack = ui.boundsInClient(radioButton(20));
    EXPECT_TRUE(EqualRect(&optionBefore, &optionBack));
}

} // namespace
} // namespace quellan
