#include "error_display.h"

#include "code_page.h"
#include "task_windows.h"

namespace quellan {
namespace {

// The box appears on the monitor of the window it is owned by. When the
// user is working on another monitor, the owner is moved there while the
// box is shown, and back afterwards.
class OwnerOnActiveMonitor {
public:
    explicit OwnerOnActiveMonitor(HWND owner) : owner_(owner)
    {
        HMONITOR active = MonitorFromWindow(GetActiveWindow(), MONITOR_DEFAULTTONEAREST);
        if (active == MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST)) {
            return;
        }
        MONITORINFO info{};
        info.cbSize = sizeof info;
        GetMonitorInfoA(active, &info);
        GetWindowRect(owner, &original_);
        moved_ = true;
        moveTo((info.rcMonitor.left + info.rcMonitor.right) / 2,
               (info.rcMonitor.top + info.rcMonitor.bottom) / 2);
    }
    OwnerOnActiveMonitor(const OwnerOnActiveMonitor&) = delete;
    OwnerOnActiveMonitor& operator=(const OwnerOnActiveMonitor&) = delete;
    ~OwnerOnActiveMonitor()
    {
        if (moved_) {
            moveTo(original_.left, original_.top);
        }
    }

private:
    void moveTo(int x, int y)
    {
        SetWindowPos(owner_, nullptr, x, y, 0, 0,
                     SWP_NOACTIVATE | SWP_NOREDRAW | SWP_NOSIZE | SWP_NOZORDER);
    }

    HWND owner_;
    RECT original_{};
    bool moved_ = false;
};

} // namespace

std::string ErrorDisplay::withFullStop(std::string message)
{
    const std::string_view last = CodePage::cp932().lastCharacter(message);
    if (!last.empty() && last > std::string_view(".")) {
        message += '.';
    }
    return message;
}

void ErrorDisplay::show(std::string_view message) const
{
    // A window that holds the mouse capture (a button being pressed, a
    // scroll bar being dragged) must let go before the box takes the input.
    if (HWND capture = GetCapture()) {
        SendMessageA(capture, WM_CANCELMODE, 0, 0);
    }
    const std::string text = withFullStop(std::string(message));
    const OwnerOnActiveMonitor placement(owner_);
    const TaskWindowsDisabled modal;
    MessageBoxA(owner_, text.c_str(), title_.c_str(), MB_OK | MB_ICONERROR);
}

} // namespace quellan
