#pragma once

// The one base of every window the program creates: it registers the
// window class, ties the window to its object from the first message to the
// last, and keeps failures from crossing the window procedure.

#include <windows.h>

#include <optional>
#include <string_view>

namespace quellan {

// What a window class is registered with.
struct WindowClass {
    const char* name;
    UINT style = 0;
    HICON icon = nullptr;
    // The class's background; none: the window erases nothing itself.
    std::optional<COLORREF> background;
};

// Where a window is created, and how.
struct WindowShape {
    DWORD style = 0;
    DWORD exStyle = 0;
    POINT position{};
    SIZE size{};
    HWND owner = nullptr;
};

class Window {
public:
    // The window is destroyed with its object; it is cut loose first, so no
    // message reaches a half-destroyed object.
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND handle() const { return window_; }

    // A message the loop may take before it is dispatched (keyboard
    // navigation). True when it was handled.
    virtual bool preTranslateMessage(const MSG& message);

protected:
    Window() = default;

    // Registers windowClass when no window of it exists yet and creates the
    // window, bound to this object. Call it from the most derived
    // constructor: messages sent during creation reach its handleMessage.
    // Throws Exception(failure) when the window cannot be created.
    void create(HINSTANCE instance, const WindowClass& windowClass, const char* title,
                const WindowShape& shape, const char* failure);

    // Destroys the window and unregisters its class, once. A derived class
    // whose members the window uses (fonts, brushes) calls it from its own
    // destructor, so the window goes before them.
    void destroy();

    // Every message of this window. The default: DefWindowProcA.
    virtual LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // Shows a failure that left handleMessage. The program carries on.
    virtual void showFailure(std::string_view message) const = 0;

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    HINSTANCE instance_ = nullptr;
    const char* className_ = nullptr;
};

} // namespace quellan
