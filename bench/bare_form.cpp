// The least a program shaped like Quellan does to start: an unowned
// zero-size window that carries the task-bar entry, and an owned 660 x 823
// window shown normal and painted, holding CHILDREN plain option buttons
// with short captions in the system font, after loading each LIBRARY
// named. The benchmark starts it beside Quellan and notepad, so the table
// shows what the platform itself charges for the two top-level windows,
// for each child window and for the libraries Quellan's controls need.
//
// With --run it holds one push button instead, at the place of Quellan's
// run button, whose click runs COMMAND and waits for it, then starts
// VIEWER, through the same launcher calls as Quellan's run: the floor of
// the benchmark's round trips.
//
//   bare_form.exe [CHILDREN [LIBRARY...]]     default: 0, none
//   bare_form.exe --run COMMAND VIEWER

#include "child_process_launcher.h"
#include "loaded_library.h"
#include "window.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <string>
#include <string_view>
#include <utility>

namespace {

using quellan::Window;
using quellan::WindowClass;
using quellan::WindowShape;

constexpr int runButton = 1;

// Failures go to standard error: the benchmark reads no boxes.
class BareWindow : public Window {
protected:
    void showFailure(std::string_view message) const override
    {
        std::fprintf(stderr, "bare_form: %.*s\n", static_cast<int>(message.size()), message.data());
    }
};

// Carries the task-bar entry, as Quellan's application window does.
class BareOwner : public BareWindow {
public:
    explicit BareOwner(HINSTANCE instance)
    {
        WindowShape shape;
        shape.style = WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX;
        shape.position = {640, 512};
        create(instance, {"BareOwner", 0, nullptr, std::nullopt}, "Bare", shape, "no owner window");
    }
};

class BareForm : public BareWindow {
public:
    // With commands, its run button runs runCommand, waits, then starts viewerCommand.
    BareForm(HINSTANCE instance, HWND owner, std::string runCommand, std::string viewerCommand)
        : runCommand_(std::move(runCommand)), viewerCommand_(std::move(viewerCommand))
    {
        WindowShape shape;
        shape.style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
        shape.position = {200, 100};
        shape.size = {660, 823};
        shape.owner = owner;
        const WindowClass formClass{"BareForm", 0, nullptr, GetSysColor(COLOR_BTNFACE)};
        create(instance, formClass, "Bare form", shape, "no form window");
    }

protected:
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_COMMAND && LOWORD(wParam) == runButton && HIWORD(wParam) == BN_CLICKED) {
            quellan::ChildProcessLauncher::runAndWait(runCommand_);
            quellan::ChildProcessLauncher::startDetached(viewerCommand_);
            return 0;
        }
        if (message == WM_DESTROY) {
            PostQuitMessage(0);
            return 0;
        }
        return Window::handleMessage(message, wParam, lParam);
    }

private:
    std::string runCommand_;
    std::string viewerCommand_;
};

HWND createChild(HWND parent, const char* className, const char* caption, DWORD style, RECT bounds,
                 int id)
{
    return CreateWindowExA(
        0, className, caption, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, bounds.left,
        bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
try {
    const bool runMode = __argc == 4 && std::strcmp(__argv[1], "--run") == 0;
    int children = 0;
    std::deque<quellan::LoadedLibrary> libraries;
    if (!runMode && __argc > 1) {
        children = std::atoi(__argv[1]);
        for (int library = 2; library < __argc; ++library) {
            libraries.emplace_back(__argv[library]);
            if (GetModuleHandleA(__argv[library]) == nullptr) {
                return 1;
            }
        }
    }
    const BareOwner owner(instance);
    const BareForm form(instance, owner.handle(), runMode ? __argv[2] : "",
                        runMode ? __argv[3] : "");
    for (int child = 0; child < children; ++child) {
        char caption[32];
        std::snprintf(caption, sizeof caption, "Option %d", child + 1);
        const int left = 24 + child / 28 * 240;
        const int top = 32 + child % 28 * 24;
        if (createChild(form.handle(), "BUTTON", caption, BS_RADIOBUTTON,
                        {left, top, left + 230, top + 20}, 100 + child) == nullptr) {
            return 1;
        }
    }
    if (runMode && createChild(form.handle(), "BUTTON", "Run", WS_TABSTOP | BS_PUSHBUTTON,
                               {536, 96, 633, 137}, runButton) == nullptr) {
        return 1;
    }
    SetWindowPos(owner.handle(), nullptr, 0, 0, 0, 0,
                 SWP_SHOWWINDOW | SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(form.handle(), SW_SHOWNORMAL);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
} catch (const std::exception& failure) {
    std::fprintf(stderr, "bare_form: %s\n", failure.what());
    return 1;
}
