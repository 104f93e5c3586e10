#include "window.h"

#include "exception.h"

#include <exception>

namespace quellan {

Window::~Window()
{
    destroy();
}

void Window::destroy()
{
    if (window_ != nullptr) {
        SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
        window_ = nullptr;
    }
    if (className_ != nullptr) {
        // Fails, harmlessly, while another window of the class lives. The
        // system deletes the class's background brush with the class.
        UnregisterClassA(className_, instance_);
        className_ = nullptr;
    }
}

bool Window::preTranslateMessage(const MSG&)
{
    return false;
}

void Window::create(HINSTANCE instance, const WindowClass& windowClass, const char* title,
                    const WindowShape& shape, const char* failure)
{
    WNDCLASSEXA registered{};
    registered.cbSize = sizeof registered;
    if (!GetClassInfoExA(instance, windowClass.name, &registered)) {
        registered.style = windowClass.style;
        registered.lpfnWndProc = windowProc;
        registered.hInstance = instance;
        registered.hIcon = windowClass.icon;
        registered.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
        // Owned by the class from here on: UnregisterClassA deletes it.
        registered.hbrBackground =
            windowClass.background ? CreateSolidBrush(*windowClass.background) : nullptr;
        registered.lpszClassName = windowClass.name;
        if (RegisterClassExA(&registered) == 0) {
            throw Exception(failure);
        }
    }
    instance_ = instance;
    className_ = windowClass.name;
    // window_ is set by the first message, WM_NCCREATE.
    if (CreateWindowExA(shape.exStyle, windowClass.name, title, shape.style, shape.position.x,
                        shape.position.y, shape.size.cx, shape.size.cy, shape.owner, nullptr,
                        instance, this) == nullptr) {
        throw Exception(failure);
    }
}

LRESULT Window::handleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window_, message, wParam, lParam);
}

LRESULT CALLBACK Window::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Window*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
        return DefWindowProcA(window, message, wParam, lParam);
    }
    // No C++ exception may unwind through the system's frames: a failure is
    // shown instead, and the program carries on.
    try {
        return self->handleMessage(message, wParam, lParam);
    } catch (const std::exception& failure) {
        self->showFailure(failure.what());
    } catch (...) {
        self->showFailure("予期しないエラーが発生しました。");
    }
    return 0;
}

} // namespace quellan
