#include "child_process_launcher.h"

#include "dump_state.h"
#include "exception.h"
#include "unique_handle.h"
#include "win32_error.h"

#include <windows.h>

#include <array>
#include <vector>

namespace quellan {
namespace {

// Room for 260 characters and the terminator, for Comspec and for the dump
// command alike.
using CommandBuffer = std::array<char, MaxCommandLineLength + 1>;

struct ChildHandles {
    UniqueHandle process;
    UniqueHandle thread;
};

ChildHandles adopt(const PROCESS_INFORMATION& info)
{
    return {UniqueHandle(info.hProcess), UniqueHandle(info.hThread)};
}

} // namespace

std::string ChildProcessLauncher::interpreterPath()
{
    CommandBuffer buffer{};
    const DWORD length =
        GetEnvironmentVariableA("Comspec", buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
        throw Exception(
            "環境変数 Comspec が設定されていません。コマンドインタプリタを起動できません。");
    }
    if (length >= buffer.size()) {
        // The call reported the size it needs and left the buffer unfilled.
        throw Exception("環境変数 Comspec が長すぎます (" + std::to_string(length - 1) +
                        " 文字)。使えるのは " + std::to_string(MaxCommandLineLength) +
                        " 文字までです。");
    }
    return std::string(buffer.data(), length);
}

void ChildProcessLauncher::runAndWait(const std::string& commandLine)
{
    requireCommandLineLength(commandLine);
    CommandBuffer command{};
    commandLine.copy(command.data(), commandLine.size());

    // The interpreter gets the same start-up information as this program,
    // so it opens its console the way the user started Quellan.
    STARTUPINFOA startup{};
    GetStartupInfoA(&startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        raiseLastWin32Error();
    }
    const ChildHandles child = adopt(info);

    // Waiting for input idle first lets a GUI child come up before the
    // final wait; for a console child it returns at once. Results are not
    // examined: either way the next wait is the one that matters.
    WaitForInputIdle(child.process.get(), INFINITE);
    WaitForSingleObject(child.process.get(), INFINITE);
}

void ChildProcessLauncher::startDetached(const std::string& commandLine)
{
    // CreateProcessA may write into the command line it is given.
    std::vector<char> command(commandLine.begin(), commandLine.end());
    command.push_back('\0');

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, &info)) {
        throw Exception("失敗です。");
    }
    adopt(info); // the viewer is not tracked: its handles are closed at once
}

} // namespace quellan
