#pragma once

#include "window.h"

#include <windows.h>

#include <string>
#include <string_view>

namespace quellan {

// The application object: a zero-size window that carries the title in the
// task bar, owns the main window, the dialogs and the failure boxes, and
// minimises and restores the program as a whole. It runs the message loop
// of whichever main window it is given.
class Application : public Window {
public:
    explicit Application(HINSTANCE instance);

    void setTitle(std::string title);
    const std::string& title() const { return title_; }
    HINSTANCE instance() const { return instance_; }

    // Shows the main window as the start-up show state asks.
    void start(Window& mainWindow);

    // Starts, then dispatches messages until the main window is closed.
    // Returns the process's exit code.
    int run(Window& mainWindow);

    // Minimises the program: the main window goes with the application window.
    void minimize();
    void showException(std::string_view message) const;

    // How the main window is shown for a start-up show state:
    // SW_SHOWMAXIMIZED for 3, SW_SHOWMINNOACTIVE (not shown until restored)
    // for 7, otherwise SW_SHOWNORMAL.
    static int mainWindowShowState(const STARTUPINFOA& startup);

protected:
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void showFailure(std::string_view message) const override;

private:
    void restore();

    HINSTANCE instance_;
    std::string title_;
    Window* mainWindow_ = nullptr;
    bool mainWindowShown_ = false;
};

} // namespace quellan
