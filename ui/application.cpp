#include "application.h"

#include "error_display.h"
#include "resources.h"

namespace quellan {

Application::Application(HINSTANCE instance) : instance_(instance)
{
    // Unowned and zero-sized: it gives the program its task-bar entry
    // without ever showing a window of its own.
    WindowShape shape;
    shape.style = WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX;
    shape.position = {GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2};
    create(
        instance,
        {"TApplication", 0, LoadIconA(instance, MAKEINTRESOURCEA(QUELLAN_MAIN_ICON)), std::nullopt},
        "", shape, "アプリケーションウィンドウを作成できません。");
}

void Application::setTitle(std::string title)
{
    title_ = std::move(title);
    SetWindowTextA(handle(), title_.c_str());
}

int Application::mainWindowShowState(const STARTUPINFOA& startup)
{
    if ((startup.dwFlags & STARTF_USESHOWWINDOW) != 0) {
        if (startup.wShowWindow == SW_SHOWMAXIMIZED || startup.wShowWindow == SW_SHOWMINNOACTIVE) {
            return startup.wShowWindow;
        }
    }
    return SW_SHOWNORMAL;
}

void Application::start(Window& mainWindow)
{
    mainWindow_ = &mainWindow;
    STARTUPINFOA startup{};
    GetStartupInfoA(&startup);
    // The show state is applied explicitly: Windows and Wine differ in how
    // they apply it to a program's first ShowWindow call.
    const int showState = mainWindowShowState(startup);
    if (showState == SW_SHOWMINNOACTIVE) {
        ShowWindow(handle(), SW_SHOWMINNOACTIVE); // the main window follows the first restore
        return;
    }
    SetWindowPos(handle(), nullptr, 0, 0, 0, 0,
                 SWP_SHOWWINDOW | SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
    mainWindowShown_ = true;
    ShowWindow(mainWindow.handle(), showState);
}

int Application::run(Window& mainWindow)
{
    start(mainWindow);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!mainWindow.preTranslateMessage(message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    mainWindow_ = nullptr;
    return 0;
}

void Application::minimize()
{
    ShowWindow(handle(), SW_MINIMIZE);
    // Windows hides the windows an owner owns when it is minimised; Wine
    // does not. The main window is hidden here, and shown again on restore.
    if (mainWindow_ != nullptr) {
        ShowWindow(mainWindow_->handle(), SW_HIDE);
    }
}

void Application::restore()
{
    if (mainWindow_ == nullptr) {
        return;
    }
    HWND main = mainWindow_->handle();
    if (!mainWindowShown_) {
        // Started minimised without activation: the first restore shows it.
        mainWindowShown_ = true;
        ShowWindow(main, SW_SHOWNORMAL);
    } else if (!IsWindowVisible(main)) {
        ShowWindow(main, SW_SHOW);
    }
    SetForegroundWindow(main);
}

void Application::showException(std::string_view message) const
{
    ErrorDisplay(handle(), title_).show(message);
}

void Application::showFailure(std::string_view message) const
{
    showException(message);
}

LRESULT Application::handleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_RESTORE) {
            DefWindowProcA(handle(), message, wParam, lParam);
            restore();
            return 0;
        }
        break;
    case WM_ACTIVATE:
        // Activation that lands on the zero-size window belongs to the main window.
        if (LOWORD(wParam) != WA_INACTIVE && mainWindow_ != nullptr && mainWindowShown_ &&
            IsWindowVisible(mainWindow_->handle()) && IsWindowEnabled(mainWindow_->handle())) {
            SetActiveWindow(mainWindow_->handle());
            return 0;
        }
        break;
    case WM_CLOSE:
        if (mainWindow_ != nullptr) {
            PostMessageA(mainWindow_->handle(), WM_CLOSE, 0, 0);
        }
        return 0;
    default:
        break;
    }
    return Window::handleMessage(message, wParam, lParam);
}

} // namespace quellan
