#include "task_windows.h"

namespace quellan {

TaskWindowsDisabled::TaskWindowsDisabled() : active_(GetActiveWindow()), focus_(GetFocus())
{
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM list) -> BOOL {
            if (IsWindowVisible(window) && IsWindowEnabled(window)) {
                reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&disabled_));
    for (HWND window : disabled_) {
        EnableWindow(window, FALSE);
    }
}

TaskWindowsDisabled::~TaskWindowsDisabled()
{
    for (HWND window : disabled_) {
        if (IsWindow(window)) {
            EnableWindow(window, TRUE);
        }
    }
    if (active_ != nullptr && IsWindow(active_)) {
        SetActiveWindow(active_);
    }
    if (focus_ != nullptr && IsWindow(focus_) && IsWindowEnabled(focus_)) {
        SetFocus(focus_);
    }
}

} // namespace quellan
