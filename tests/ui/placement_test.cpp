// How the real program places its window for the show state it is started
// with: maximised for 3; for 7 not shown until the application is restored;
// normal for any other. And how start-up ends when the window cannot be
// made whole.

#include "control_ids.h"
#include "test_support.h"
#include "unique_handle.h"
#include "ui_test_support.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quellan {
namespace {

class StartedQuellan {
public:
    // Started with the show state show, or with none when it is empty, and
    // with arguments after the program's name when given.
    explicit StartedQuellan(std::optional<WORD> show,
                            const std::string& program = test::programFolder() + "\\Quellan.exe",
                            const std::string& arguments = {})
    {
        std::string line = program + arguments;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        if (show) {
            startup.dwFlags = STARTF_USESHOWWINDOW;
            startup.wShowWindow = *show;
        }
        PROCESS_INFORMATION info{};
        if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           dir_.path().c_str(), &startup, &info)) {
            process_ = UniqueHandle(info.hProcess);
            CloseHandle(info.hThread);
            pid_ = info.dwProcessId;
            WaitForInputIdle(process_.get(), 15000);
        }
    }
    StartedQuellan(const StartedQuellan&) = delete;
    StartedQuellan& operator=(const StartedQuellan&) = delete;
    ~StartedQuellan()
    {
        if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.get(), 1);
        }
    }

    DWORD pid() const { return pid_; }
    HANDLE process() const { return process_.get(); }

private:
    test::TempDir dir_;
    UniqueHandle process_;
    DWORD pid_ = 0;
};

// 3 starts maximised; any other but 7, or none, starts normal, hidden and
// minimised ones too. Arguments on the command line change nothing.
TEST(Placement, ShowState3StartsMaximisedAndAnyOtherButSevenOrNoneNormal)
{
    const std::optional<WORD> states[] = {SW_SHOWMAXIMIZED,  SW_HIDE,     SW_SHOWMINIMIZED,
                                          SW_SHOWNOACTIVATE, SW_MINIMIZE, SW_SHOWDEFAULT,
                                          std::nullopt};
    for (const std::optional<WORD> show : states) {
        SCOPED_TRACE(show ? std::to_string(*show) : "none");
        StartedQuellan quellan(show, test::programFolder() + "\\Quellan.exe",
                               show ? "" : " /s -h C:\\no such file.exe");
        HWND form = test::findWindowOf(quellan.pid(), "TForm1", 15000);
        ASSERT_NE(form, nullptr);
        Sleep(500);
        EXPECT_TRUE(IsWindowVisible(form));
        EXPECT_FALSE(IsIconic(form));
        EXPECT_EQ(IsZoomed(form) != FALSE, show == SW_SHOWMAXIMIZED);
        EXPECT_EQ(test::windowText(GetDlgItem(form, controls::radioButton(1))),
                  "-a      ASCII file display");
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(form, controls::Button1)))
            << "no file is chosen by the command line";
    }
}

TEST(Placement, ShowState7WaitsForTheFirstRestoreThenShowsNormalAndInitialises)
{
    StartedQuellan quellan(SW_SHOWMINNOACTIVE);
    HWND form = test::findWindowOf(quellan.pid(), "TForm1", 15000);
    HWND application = test::findWindowOf(quellan.pid(), "TApplication", 15000);
    ASSERT_NE(form, nullptr);
    ASSERT_NE(application, nullptr);
    Sleep(1000);
    EXPECT_FALSE(IsWindowVisible(form));
    EXPECT_TRUE(IsIconic(application));
    EXPECT_EQ(test::windowText(GetDlgItem(form, controls::radioButton(1))), "RadioButton1")
        << "not initialised before it is first shown";

    // What a click on the task-bar entry does.
    PostMessageA(application, WM_SYSCOMMAND, SC_RESTORE, 0);
    const ULONGLONG deadline = GetTickCount64() + 10000;
    while (!IsWindowVisible(form) && GetTickCount64() < deadline) {
        Sleep(50);
    }
    Sleep(500);
    EXPECT_TRUE(IsWindowVisible(form));
    EXPECT_FALSE(IsZoomed(form));
    EXPECT_FALSE(IsIconic(form));
    EXPECT_EQ(test::windowText(GetDlgItem(form, controls::radioButton(1))),
              "-a      ASCII file display");
}

// Without the rich edit library there is no RICHEDIT class: start-up ends
// in a box that names the control, and the program exits. (Wine's own
// per-program setting keeps a copy of Quellan from loading the library.)
TEST(Placement, AControlThatCannotBeCreatedEndsStartUpWithABoxNamingIt)
{
    const test::TempDir dir;
    const std::string program = dir.file("Quellan-without-richedit.exe");
    test::copyFile(test::programFolder() + "\\Quellan.exe", program);
    const char* key = "Software\\Wine\\AppDefaults\\Quellan-without-richedit.exe\\DllOverrides";
    HKEY overrides = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &overrides, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(overrides, "riched32", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
    RegCloseKey(overrides);

    StartedQuellan quellan(SW_SHOWNORMAL, program);
    HWND box = test::findWindowOf(quellan.pid(), "#32770", 15000);
    RegDeleteKeyA(HKEY_CURRENT_USER, key);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(test::windowText(box), "Quellan");
    EXPECT_EQ(test::windowText(GetDlgItem(box, 0xFFFF)),
              "コントロール RichEdit1 (RICHEDIT) を作成できません。");
    EXPECT_EQ(test::findWindowOf(quellan.pid(), "TForm1", 0), nullptr) << "no window left behind";
    PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    ASSERT_EQ(WaitForSingleObject(quellan.process(), 15000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    GetExitCodeProcess(quellan.process(), &exitCode);
    EXPECT_EQ(exitCode, 1u);
}

TEST(Placement, ClosingTheWindowEndsTheProcessWithExitCodeZero)
{
    StartedQuellan quellan(SW_SHOWNORMAL);
    HWND form = test::findWindowOf(quellan.pid(), "TForm1", 15000);
    ASSERT_NE(form, nullptr);
    PostMessageA(form, WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_EQ(WaitForSingleObject(quellan.process(), 15000), WAIT_OBJECT_0);
    DWORD exitCode = 99;
    GetExitCodeProcess(quellan.process(), &exitCode);
    EXPECT_EQ(exitCode, 0u);
}

} // namespace
} // namespace quellan
