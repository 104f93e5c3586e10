#pragma once

// Tab, Shift+Tab and the arrow keys among a window's controls, as a dialog
// box moves them, in a tab order given by the window.

#include <windows.h>

#include <vector>

namespace quellan {

class KeyboardNavigation {
public:
    // tabOrder: the controls' identifiers in tab order. The arrow keys move
    // the check within the option group firstOption..lastOption, wrapping
    // round, by a click on the next button.
    KeyboardNavigation(HWND window, std::vector<int> tabOrder, int firstOption, int lastOption);

    // A key pressed in the window or one of its controls. True when it moved
    // the focus or the check, and must not be dispatched.
    bool handle(const MSG& message) const;

private:
    void moveFocus(bool backwards) const;

    HWND window_;
    std::vector<int> tabOrder_;
    int firstOption_;
    int lastOption_;
};

} // namespace quellan
