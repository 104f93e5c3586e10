#include "keyboard_navigation.h"

#include <algorithm>
#include <utility>

namespace quellan {

// Made by hand rather than by IsDialogMessageA: later controls must lie
// above earlier ones (the text box covers the option buttons' right ends),
// and the dialog manager takes the tab order from the top of the z-order,
// so it would visit the controls backwards.
KeyboardNavigation::KeyboardNavigation(HWND window, std::vector<int> tabOrder, int firstOption,
                                       int lastOption)
    : window_(window), tabOrder_(std::move(tabOrder)), firstOption_(firstOption),
      lastOption_(lastOption)
{
}

bool KeyboardNavigation::handle(const MSG& message) const
{
    if (message.message != WM_KEYDOWN ||
        (message.hwnd != window_ && !IsChild(window_, message.hwnd))) {
        return false;
    }
    if (GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0) {
        return false;
    }
    if (message.wParam == VK_TAB) {
        moveFocus(GetKeyState(VK_SHIFT) < 0);
        return true;
    }
    const int focus = GetDlgCtrlID(GetFocus());
    if (focus < firstOption_ || focus > lastOption_) {
        return false;
    }
    int step = 0;
    switch (message.wParam) {
    case VK_UP:
    case VK_LEFT:
        step = -1;
        break;
    case VK_DOWN:
    case VK_RIGHT:
        step = 1;
        break;
    default:
        return false;
    }
    const int count = lastOption_ - firstOption_ + 1;
    const int next = firstOption_ + (focus - firstOption_ + step + count) % count;
    // A click, so the check, the tab stop and the handler follow as with the mouse.
    SendMessageA(GetDlgItem(window_, next), BM_CLICK, 0, 0);
    return true;
}

void KeyboardNavigation::moveFocus(bool backwards) const
{
    std::vector<HWND> sequence;
    for (const int id : tabOrder_) {
        HWND control = GetDlgItem(window_, id);
        const bool tabStop = (GetWindowLongA(control, GWL_STYLE) & WS_TABSTOP) != 0;
        if (tabStop && IsWindowEnabled(control) && IsWindowVisible(control)) {
            sequence.push_back(control);
        }
    }
    if (sequence.empty()) {
        return;
    }
    const auto current = std::find(sequence.begin(), sequence.end(), GetFocus());
    HWND next = nullptr;
    if (current == sequence.end()) {
        next = backwards ? sequence.back() : sequence.front();
    } else if (backwards) {
        next = current == sequence.begin() ? sequence.back() : *(current - 1);
    } else {
        next = current + 1 == sequence.end() ? sequence.front() : *(current + 1);
    }
    SetFocus(next);
    // An edit box is entered with its whole text selected, ready to be typed over.
    char className[16] = {};
    GetClassNameA(next, className, sizeof className);
    if (lstrcmpiA(className, "Edit") == 0) {
        SendMessageA(next, EM_SETSEL, 0, -1);
    }
}

} // namespace quellan
