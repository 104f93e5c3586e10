#include "open_dialog.h"

#include "code_page.h"
#include "loaded_library.h"
#include "task_windows.h"

#include <commdlg.h>

#include <algorithm>
#include <vector>

namespace quellan {
namespace {

// Room for any path the dialog can return; a path too long to run is
// refused later with a message, not cut short here.
constexpr std::size_t fileNameCapacity = 32768;

// The dialog's filter string: the pieces separated by NULs, ending in two.
std::string dialogFilter(const std::string& filter)
{
    std::string result;
    for (const std::string& piece : CodePage::cp932().split(filter, '|')) {
        result += piece;
        result += '\0';
    }
    result += '\0';
    return result;
}

UINT_PTR CALLBACK placementHook(HWND hookDialog, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_NOTIFY) {
        const auto* notify = reinterpret_cast<const OFNOTIFYA*>(lParam);
        if (notify->hdr.code == CDN_INITDONE) {
            HWND dialog = GetParent(hookDialog);
            const auto placeNear = reinterpret_cast<HWND>(notify->lpOFN->lCustData);
            MONITORINFO monitor{};
            monitor.cbSize = sizeof monitor;
            GetMonitorInfoA(MonitorFromWindow(placeNear, MONITOR_DEFAULTTONEAREST), &monitor);
            RECT bounds;
            GetWindowRect(dialog, &bounds);
            const POINT at = OpenDialog::placement(
                monitor.rcMonitor, {bounds.right - bounds.left, bounds.bottom - bounds.top});
            SetWindowPos(dialog, nullptr, at.x, at.y, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    return 0;
}

} // namespace

POINT OpenDialog::placement(const RECT& monitor, SIZE dialog)
{
    return {monitor.left + (monitor.right - monitor.left - dialog.cx) / 2,
            monitor.top + (monitor.bottom - monitor.top - dialog.cy) / 3};
}

bool OpenDialog::execute(HWND owner, HWND placeNear)
{
    std::vector<char> name(fileNameCapacity, '\0');
    fileName.copy(name.data(), std::min(fileName.size(), name.size() - 1));
    const std::string filters = dialogFilter(filter);

    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filters.c_str();
    dialog.nFilterIndex = filterIndex;
    dialog.lpstrFile = name.data();
    dialog.nMaxFile = static_cast<DWORD>(name.size());
    dialog.lpstrTitle = title.c_str();
    // No existence checks, no default extension, the current directory left
    // to the dialog's own habits; the hook only places the dialog.
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_ENABLEHOOK;
    dialog.lpfnHook = placementHook;
    dialog.lCustData = reinterpret_cast<LPARAM>(placeNear);

    // The common dialogs, and the printing and shell libraries they bring
    // along, are loaded when a file is first chosen rather than at start-up.
    static const LoadedLibrary commonDialogs("comdlg32.dll");
    using GetOpenFileNameFunction = BOOL(WINAPI*)(OPENFILENAMEA*);
    const auto getOpenFileName =
        commonDialogs.function<GetOpenFileNameFunction>("GetOpenFileNameA");
    if (getOpenFileName == nullptr) {
        return false; // the dialog cannot be shown: nothing changes
    }
    bool chosen = false;
    {
        const TaskWindowsDisabled modal;
        chosen = getOpenFileName(&dialog) != FALSE;
    }
    if (chosen) {
        fileName = name.data();
        filterIndex = dialog.nFilterIndex;
    }
    return chosen;
}

} // namespace quellan
