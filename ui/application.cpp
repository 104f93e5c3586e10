#include "application.h"

#include "exception.h"
#include "main_window.h"

namespace quellan {
namespace {

constexpr char applicationClass[] = "TApplication";

} // namespace

Application::Application(HINSTANCE instance) : instance_(instance)
{
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    windowClass.lpszClassName = applicationClass;
    RegisterClassExA(&windowClass);

    // Unowned and zero-sized: it gives the program its task-bar entry
    // without ever showing a window of its own.
    const int x = GetSystemMetrics(SM_CXSCREEN) / 2;
    const int y = GetSystemMetrics(SM_CYSCREEN) / 2;
    window_ = CreateWindowExA(0, applicationClass, "",
                              WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                              x, y, 0, 0, nullptr, nullptr, instance, this);
    if (window_ == nullptr) {
        throw Exception("アプリケーションウィンドウを作成できません。");
    }
}

Application::~Application()
{
    if (IsWindow(window_)) {
        DestroyWindow(window_);
    }
    UnregisterClassA(applicationClass, instance_);
}

void Application::setTitle(std::string title)
{
    title_ = std::move(title);
    SetWindowTextA(window_, title_.c_str());
}

int Application::mainFormShowState(const STARTUPINFOA& startup)
{
    if ((startup.dwFlags & STARTF_USESHOWWINDOW) != 0) {
        if (startup.wShowWindow == SW_SHOWMAXIMIZED || startup.wShowWindow == SW_SHOWMINNOACTIVE) {
            return startup.wShowWindow;
        }
    }
    return SW_SHOWNORMAL;
}

void Application::start(TForm1& mainForm)
{
    mainForm_ = &mainForm;
    STARTUPINFOA startup{};
    GetStartupInfoA(&startup);
    // The show state is applied explicitly: Windows and Wine differ in how
    // they apply it to a program's first ShowWindow call.
    const int showState = mainFormShowState(startup);
    if (showState == SW_SHOWMINNOACTIVE) {
        ShowWindow(window_, SW_SHOWMINNOACTIVE); // the form follows the first restore
    } else {
        SetWindowPos(window_, nullptr, 0, 0, 0, 0,
                     SWP_SHOWWINDOW | SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
        showMainForm(showState);
    }
}

int Application::run(TForm1& mainForm)
{
    start(mainForm);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!mainForm.isDialogKey(message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    mainForm_ = nullptr;
    return 0;
}

void Application::showMainForm(int showState)
{
    mainFormShown_ = true;
    ShowWindow(mainForm_->handle(), showState);
}

void Application::minimize()
{
    // Minimising the owner hides the main form with it; restoring brings it back.
    ShowWindow(window_, SW_MINIMIZE);
}

void Application::showException(std::string_view message) const
{
    ErrorDisplay(window_, title_).show(message);
}

LRESULT CALLBACK Application::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Application*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr || self->window_ != window) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    return guardedCall(*self, [&] { return self->handleMessage(message, wParam, lParam); });
}

LRESULT Application::handleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_RESTORE && mainForm_ != nullptr && !mainFormShown_) {
            // Started minimised without activation: the form appears on the first restore.
            DefWindowProcA(window_, message, wParam, lParam);
            showMainForm(SW_SHOWNORMAL);
            return 0;
        }
        break;
    case WM_ACTIVATE:
        // Activation that lands on the zero-size window belongs to the form.
        if (LOWORD(wParam) != WA_INACTIVE && mainForm_ != nullptr && mainFormShown_ &&
            IsWindowEnabled(mainForm_->handle())) {
            SetActiveWindow(mainForm_->handle());
            return 0;
        }
        break;
    case WM_CLOSE:
        if (mainForm_ != nullptr) {
            PostMessageA(mainForm_->handle(), WM_CLOSE, 0, 0);
        }
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window_, message, wParam, lParam);
}

} // namespace quellan
