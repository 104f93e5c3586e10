#pragma once

#include "error_display.h"

#include <windows.h>

#include <exception>
#include <string>
#include <string_view>

namespace quellan {

class TForm1;

// The application object: a zero-size window that carries the title in the
// task bar, owns the main window, the dialogs and the failure boxes, and
// minimises and restores the program as a whole. It runs the message loop.
class Application {
public:
    explicit Application(HINSTANCE instance);
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;
    ~Application();

    void setTitle(std::string title);
    const std::string& title() const { return title_; }
    HWND handle() const { return window_; }
    HINSTANCE instance() const { return instance_; }

    // Shows the main form as the start-up show state asks.
    void start(TForm1& mainForm);

    // Starts, then dispatches messages until the main form is closed.
    // Returns the process's exit code.
    int run(TForm1& mainForm);

    void minimize();
    void showException(std::string_view message) const;

    // How the main form is shown for a start-up show state: SW_SHOWMAXIMIZED
    // for 3, SW_SHOWMINNOACTIVE (not shown until restored) for 7, otherwise
    // SW_SHOWNORMAL.
    static int mainFormShowState(const STARTUPINFOA& startup);

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void showMainForm(int showState);

    HINSTANCE instance_;
    HWND window_ = nullptr;
    std::string title_;
    TForm1* mainForm_ = nullptr;
    bool mainFormShown_ = false;
};

// Runs the work of a window procedure so that no C++ exception ever unwinds
// through the system's frames: a failure is shown in the box instead, and
// the program carries on.
template <typename Work> LRESULT guardedCall(const Application& application, Work&& work) noexcept
{
    try {
        return work();
    } catch (const std::exception& failure) {
        application.showException(failure.what());
    } catch (...) {
        application.showException("予期しないエラーが発生しました。");
    }
    return 0;
}

} // namespace quellan
