#include "ui_test_support.h"

#include "control_ids.h"

#include <atomic>
#include <thread>

namespace quellan::test {

void pumpMessages(DWORD forMs, Window* mainWindow)
{
    const ULONGLONG until = GetTickCount64() + forMs;
    do {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (mainWindow == nullptr || !mainWindow->preTranslateMessage(message)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
        if (forMs > 0) {
            Sleep(10);
        }
    } while (GetTickCount64() < until);
}

std::string windowText(HWND window)
{
    char buffer[4096];
    const int length = GetWindowTextA(window, buffer, sizeof buffer);
    return std::string(buffer, static_cast<std::size_t>(length > 0 ? length : 0));
}

FormUnderTest::FormUnderTest() : application(GetModuleHandleA(nullptr)), form(application)
{
    application.setTitle("Quellan");
}

std::string FormUnderTest::text(int id) const
{
    return windowText(item(id));
}

RECT FormUnderTest::boundsInClient(int id) const
{
    RECT bounds;
    GetWindowRect(item(id), &bounds);
    MapWindowPoints(nullptr, form.handle(), reinterpret_cast<POINT*>(&bounds), 2);
    return bounds;
}

void FormUnderTest::show()
{
    application.start(form);
    // Activation arrives through the display server: on a busy machine it
    // can take a while.
    const ULONGLONG deadline = GetTickCount64() + 10000;
    while (GetActiveWindow() != form.handle() && GetTickCount64() < deadline) {
        pumpMessages(20);
    }
    pumpMessages(100);
}

void FormUnderTest::runLoop(DWORD forMs)
{
    pumpMessages(forMs, &form);
}

void FormUnderTest::pressKey(WPARAM key, bool shift)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    HWND target = GetFocus() != nullptr ? GetFocus() : form.handle();
    PostMessageA(target, WM_KEYDOWN, key, 1);
    PostMessageA(target, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001));
    runLoop();
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
}

int FormUnderTest::checkedRow() const
{
    for (int row = 1; row <= 28; ++row) {
        if (SendMessageA(item(controls::radioButton(row)), BM_GETCHECK, 0, 0) == BST_CHECKED) {
            return row;
        }
    }
    return 0;
}

struct MessageBoxWatcher::State {
    std::function<void(HWND)> inspect;
    std::atomic<bool> stop{false};
    std::atomic<bool> saw{false};
    std::thread thread;
};

MessageBoxWatcher::MessageBoxWatcher(std::function<void(HWND box)> inspect)
    : state_(std::make_unique<State>())
{
    state_->inspect = std::move(inspect);
    State* state = state_.get();
    const DWORD process = GetCurrentProcessId();
    state_->thread = std::thread([state, process] {
        while (!state->stop) {
            HWND box = nullptr;
            while ((box = FindWindowExA(nullptr, box, "#32770", "Quellan")) != nullptr) {
                DWORD owner = 0;
                GetWindowThreadProcessId(box, &owner);
                if (owner == process && IsWindowVisible(box)) {
                    break;
                }
            }
            if (box != nullptr) {
                state->inspect(box);
                state->saw = true;
                PostMessageA(box, WM_COMMAND, IDOK, 0);
                return;
            }
            Sleep(20);
        }
    });
}

MessageBoxWatcher::~MessageBoxWatcher()
{
    state_->stop = true;
    state_->thread.join();
}

bool MessageBoxWatcher::sawBox() const
{
    return state_->saw;
}

} // namespace quellan::test
