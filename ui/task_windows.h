#pragma once

#include <windows.h>

#include <vector>

namespace quellan {

// For the life of a modal box or dialog, disables every other window of the
// application, so the main window cannot be used behind it; afterwards the
// windows are enabled again and the window that was active becomes active.
class TaskWindowsDisabled {
public:
    TaskWindowsDisabled();
    TaskWindowsDisabled(const TaskWindowsDisabled&) = delete;
    TaskWindowsDisabled& operator=(const TaskWindowsDisabled&) = delete;
    ~TaskWindowsDisabled();

private:
    HWND active_;
    HWND focus_;
    std::vector<HWND> disabled_;
};

} // namespace quellan
