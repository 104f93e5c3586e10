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

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <string>

namespace {

constexpr char ownerClass[] = "BareOwner";
constexpr char formClass[] = "BareForm";
constexpr int runButton = 1;

// What the run button runs: the dump command and the viewer.
std::string runCommand;
std::string viewerCommand;

void run()
{
    try {
        quellan::ChildProcessLauncher::runAndWait(runCommand);
        quellan::ChildProcessLauncher::startDetached(viewerCommand);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "bare_form: %s\n", failure.what());
    }
}

LRESULT CALLBACK formProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && LOWORD(wParam) == runButton && HIWORD(wParam) == BN_CLICKED) {
        run();
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void registerClass(HINSTANCE instance, const char* name, WNDPROC procedure, HBRUSH background)
{
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    windowClass.hbrBackground = background;
    windowClass.lpszClassName = name;
    RegisterClassExA(&windowClass);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    const bool runMode = __argc == 4 && std::strcmp(__argv[1], "--run") == 0;
    int children = 0;
    std::deque<quellan::LoadedLibrary> libraries;
    if (runMode) {
        runCommand = __argv[2];
        viewerCommand = __argv[3];
    } else if (__argc > 1) {
        children = std::atoi(__argv[1]);
        for (int library = 2; library < __argc; ++library) {
            libraries.emplace_back(__argv[library]);
            if (GetModuleHandleA(__argv[library]) == nullptr) {
                return 1;
            }
        }
    }
    registerClass(instance, ownerClass, DefWindowProcA, nullptr);
    registerClass(instance, formClass, formProc,
                  reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1)));

    HWND owner =
        CreateWindowExA(0, ownerClass, "Bare",
                        WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX, 640,
                        512, 0, 0, nullptr, nullptr, instance, nullptr);
    HWND form = CreateWindowExA(0, formClass, "Bare form", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                200, 100, 660, 823, owner, nullptr, instance, nullptr);
    if (owner == nullptr || form == nullptr) {
        return 1;
    }
    for (int child = 0; child < children; ++child) {
        char caption[32];
        std::snprintf(caption, sizeof caption, "Option %d", child + 1);
        HWND button = CreateWindowExA(
            0, "BUTTON", caption, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | BS_RADIOBUTTON,
            24 + child / 28 * 240, 32 + child % 28 * 24, 230, 20, form,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(100 + child)), instance, nullptr);
        if (button == nullptr) {
            return 1;
        }
    }
    if (runMode &&
        CreateWindowExA(0, "BUTTON", "Run",
                        WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | BS_PUSHBUTTON, 536,
                        96, 97, 41, form, reinterpret_cast<HMENU>(static_cast<INT_PTR>(runButton)),
                        instance, nullptr) == nullptr) {
        return 1;
    }
    SetWindowPos(owner, nullptr, 0, 0, 0, 0,
                 SWP_SHOWWINDOW | SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(form, SW_SHOWNORMAL);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    DestroyWindow(owner);
    return 0;
}
