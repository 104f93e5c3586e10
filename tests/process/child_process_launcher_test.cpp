#include "child_process_launcher.h"
#include "dump_tool_folder.h"

#include "test_support.h"
#include "unique_handle.h"
#include "win32_error.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace quellan {
namespace {

using test::RecorderEvent;
using test::TempDir;

class ChildProcessLauncherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetEnvironmentVariableA("QUELLAN_RECORDER_LOG", log.c_str());
        SetEnvironmentVariableA("QUELLAN_RECORDER_SLEEP_MS", nullptr);
    }
    void TearDown() override
    {
        SetEnvironmentVariableA("QUELLAN_RECORDER_SLEEP_MS", nullptr);
        // Let detached recorders finish before their folder goes away.
        test::waitForRecorderEvents(log, "end",
                                    test::waitForRecorderEvents(log, "start", 0).size());
    }

    std::vector<RecorderEvent> started() { return test::waitForRecorderEvents(log, "start", 1); }
    std::vector<RecorderEvent> ended() { return test::waitForRecorderEvents(log, "end", 0, 0); }

    TempDir dir;
    std::string log = dir.file("recorder.log");
    std::string recorder = test::programFolder() + "\\recorder.exe";
};

// Sets an environment variable for the life of a test.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name)
    {
        char old[32768];
        const DWORD length = GetEnvironmentVariableA(name, old, sizeof old);
        if (length > 0 && length < sizeof old) {
            old_ = std::string(old, length);
            hadValue_ = true;
        }
        SetEnvironmentVariableA(name, value);
    }
    ~ScopedEnvironment() { SetEnvironmentVariableA(name_, hadValue_ ? old_.c_str() : nullptr); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* name_;
    std::string old_;
    bool hadValue_ = false;
};

// The process calls this program makes while it lives, in order: its
// imports of CreateProcessA and of the two waits point at recorders
// meanwhile. (Wine gives a child the normal priority whatever the flags, and
// the waits leave no trace in the child, so the child cannot tell them.)
class LaunchCallRecorder {
public:
    LaunchCallRecorder()
    {
        calls_.clear();
        hook("CreateProcessA", &createProcess, createProcess_);
        hook("WaitForInputIdle", &waitForInputIdle, waitForInputIdle_);
        hook("WaitForSingleObject", &waitForSingleObject, waitForSingleObject_);
    }
    LaunchCallRecorder(const LaunchCallRecorder&) = delete;
    LaunchCallRecorder& operator=(const LaunchCallRecorder&) = delete;
    ~LaunchCallRecorder()
    {
        for (const auto& [slot, original] : hooked_) {
            patch(slot, original);
        }
    }

    // "CreateProcessA inherit=0 flags=0x20", "WaitForInputIdle 4294967295", ...
    const std::vector<std::string>& calls() const { return calls_; }

private:
    template <class Function> void hook(const char* name, Function recorder, Function& original)
    {
        ULONG_PTR* slot = importSlot(name);
        original = reinterpret_cast<Function>(*slot);
        hooked_.emplace_back(slot, *slot);
        patch(slot, reinterpret_cast<ULONG_PTR>(recorder));
    }

    static BOOL WINAPI createProcess(LPCSTR application, LPSTR commandLine,
                                     LPSECURITY_ATTRIBUTES process, LPSECURITY_ATTRIBUTES thread,
                                     BOOL inherit, DWORD flags, LPVOID environment,
                                     LPCSTR directory, LPSTARTUPINFOA startup,
                                     LPPROCESS_INFORMATION information)
    {
        char text[64];
        std::snprintf(text, sizeof text, "CreateProcessA inherit=%d flags=0x%lX", inherit, flags);
        calls_.emplace_back(text);
        return createProcess_(application, commandLine, process, thread, inherit, flags,
                              environment, directory, startup, information);
    }
    static DWORD WINAPI waitForInputIdle(HANDLE process, DWORD timeout)
    {
        calls_.push_back("WaitForInputIdle " + std::to_string(timeout));
        return waitForInputIdle_(process, timeout);
    }
    static DWORD WINAPI waitForSingleObject(HANDLE object, DWORD timeout)
    {
        calls_.push_back("WaitForSingleObject " + std::to_string(timeout));
        return waitForSingleObject_(object, timeout);
    }

    // The slot of this program's import table that holds function.
    static ULONG_PTR* importSlot(const char* function)
    {
        auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports =
            nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (auto* module =
                 reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
             module->Name != 0; ++module) {
            auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
            auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
            for (; names->u1.AddressOfData != 0; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                    continue;
                }
                const auto* name =
                    reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                if (std::strcmp(reinterpret_cast<const char*>(name->Name), function) == 0) {
                    return &slots->u1.Function;
                }
            }
        }
        throw std::runtime_error(std::string("no import of ") + function);
    }

    static void patch(ULONG_PTR* slot, ULONG_PTR value)
    {
        DWORD protection = 0;
        VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
        *slot = value;
        VirtualProtect(slot, sizeof *slot, protection, &protection);
    }

    std::vector<std::pair<ULONG_PTR*, ULONG_PTR>> hooked_;
    static inline decltype(&CreateProcessA) createProcess_ = nullptr;
    static inline decltype(&WaitForInputIdle) waitForInputIdle_ = nullptr;
    static inline decltype(&WaitForSingleObject) waitForSingleObject_ = nullptr;
    static inline std::vector<std::string> calls_;
};

TEST(Platform, AnsiCodePageIs932)
{
    ASSERT_EQ(GetACP(), 932u) << "run under the Japanese locale (scripts/wine.sh)";
}

TEST_F(ChildProcessLauncherTest, CommandLineReachesTheChildByteForByte)
{
    const std::string command =
        recorder + " /C tdump -ee \"C:\\My Files\\フ表.exe\" " + "C:\\ポ\\Temp.txt";
    ChildProcessLauncher::runAndWait(command);
    const std::vector<RecorderEvent> events = started();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].commandLine, command);
}

TEST_F(ChildProcessLauncherTest, RunAndWaitReturnsOnlyAfterTheChildHasEnded)
{
    SetEnvironmentVariableA("QUELLAN_RECORDER_SLEEP_MS", "1500");
    const ULONGLONG before = GetTickCount64();
    ChildProcessLauncher::runAndWait(recorder + " /C tdump -h a.exe");
    EXPECT_GE(GetTickCount64() - before, 1400u);
    EXPECT_EQ(ended().size(), 1u) << "the child's end was logged before runAndWait returned";
}

TEST_F(ChildProcessLauncherTest, StartDetachedReturnsBeforeASlowChildEnds)
{
    SetEnvironmentVariableA("QUELLAN_RECORDER_SLEEP_MS", "3000");
    const ULONGLONG before = GetTickCount64();
    ChildProcessLauncher::startDetached(recorder + " C:\\x\\Temp.txt");
    EXPECT_LT(GetTickCount64() - before, 2000u);
    EXPECT_TRUE(ended().empty());
    const std::vector<RecorderEvent> events = started();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].commandLine, recorder + " C:\\x\\Temp.txt");
    EXPECT_EQ(events[0].show, SW_SHOWNORMAL) << "the viewer is always shown normal";
}

// The dump: no creation flags, no inherited handles, a wait until it is
// idle for input and then one until it ends, both unbounded. The viewer:
// the normal priority, no inherited handles, no wait.
TEST_F(ChildProcessLauncherTest, TheDumpIsWaitedForIdleThenEndTheViewerNotNeitherInheritsHandles)
{
    const LaunchCallRecorder recorded;
    ChildProcessLauncher::runAndWait(recorder + " /C tdump -h a.exe");
    ChildProcessLauncher::startDetached(recorder + " C:\\x\\Temp.txt");
    EXPECT_EQ(recorded.calls(), (std::vector<std::string>{
                                    "CreateProcessA inherit=0 flags=0x0",
                                    "WaitForInputIdle 4294967295",
                                    "WaitForSingleObject 4294967295",
                                    "CreateProcessA inherit=0 flags=0x20",
                                }));
}

// Starts launch_host with a given show state and working directory; it runs
// the command through the launcher the way the window's handlers do.
DWORD runHost(const std::string& mode, const std::string& command, WORD show,
              const std::string& directory)
{
    ScopedEnvironment hostCommand("QUELLAN_HOST_COMMAND", command.c_str());
    std::string line = test::programFolder() + "\\launch_host.exe " + mode;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = show;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        directory.c_str(), &startup, &info)) {
        return GetLastError() + 1000;
    }
    const UniqueHandle process(info.hProcess), thread(info.hThread);
    WaitForSingleObject(process.get(), 30000);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.get(), &exitCode);
    return exitCode;
}

TEST_F(ChildProcessLauncherTest, DumpChildInheritsDirectoryAndStartUpShowState)
{
    ASSERT_EQ(runHost("wait", recorder + " /C tdump -h a.exe", SW_SHOWMINNOACTIVE, dir.path()), 0u);
    const std::vector<RecorderEvent> events = started();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].show, SW_SHOWMINNOACTIVE);
    EXPECT_EQ(events[0].directory, dir.path());
}

TEST_F(ChildProcessLauncherTest, ViewerChildIsShownNormalWhateverTheCallersShowState)
{
    ASSERT_EQ(runHost("detach", recorder + " list.txt", SW_SHOWMAXIMIZED, dir.path()), 0u);
    const std::vector<RecorderEvent> events = started();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].show, SW_SHOWNORMAL);
    EXPECT_EQ(events[0].directory, dir.path());
}

TEST_F(ChildProcessLauncherTest, AMissingInterpreterRaisesTheWin32ErrorWithTheSystemText)
{
    try {
        ChildProcessLauncher::runAndWait(dir.file("nothing.exe") + " /C tdump -h a.exe");
        FAIL() << "no failure raised";
    } catch (const EWin32Error& failure) {
        EXPECT_EQ(failure.errorCode(), 2u);
        EXPECT_EQ(std::string(failure.what()),
                  "Win32 エラー。コード : 2.\nファイルが見つかりません。");
    }
    EXPECT_TRUE(test::readRecorderLog(log).empty());
}

TEST_F(ChildProcessLauncherTest, AViewerThatCannotStartRaisesTheShortFailure)
{
    test::writeFile(dir.file("notepad.exe"), "not a program");
    try {
        ChildProcessLauncher::startDetached(dir.file("notepad.exe") + " list.txt");
        FAIL() << "no failure raised";
    } catch (const EWin32Error&) {
        FAIL() << "the viewer's failure carries no platform text";
    } catch (const Exception& failure) {
        EXPECT_EQ(std::string(failure.what()), "失敗です。");
    }
}

TEST_F(ChildProcessLauncherTest, ACommandOver260CharactersIsNeverStarted)
{
    const std::string head = recorder + " /C tdump -h ";
    EXPECT_THROW(ChildProcessLauncher::runAndWait(head + std::string(261 - head.size(), 'x')),
                 Exception);
    ChildProcessLauncher::runAndWait(head + std::string(260 - head.size(), 'x'));
    ASSERT_EQ(started().size(), 1u);
    EXPECT_EQ(started()[0].commandLine.size(), 260u);
}

TEST(Win32ErrorText, TrimsTrailingControlsBlanksAndFullStops)
{
    EXPECT_EQ(trimSystemErrorText("File not found.\r\n"), "File not found");
    EXPECT_EQ(trimSystemErrorText("Done. . .  "), "Done");
    EXPECT_EQ(trimSystemErrorText(std::string("x\0\t\x1F", 4)), "x");
    EXPECT_EQ(trimSystemErrorText("ファイルが見つかりません。\r\n"), "ファイルが見つかりません。");
    EXPECT_EQ(trimSystemErrorText(" .\r\n"), "");
    EXPECT_EQ(trimSystemErrorText("a.b"), "a.b");
}

TEST(Win32ErrorText, MessagesAreFormattedByteForByte)
{
    EXPECT_EQ(win32ErrorMessage(0), "Win32 API 呼び出しに失敗しました");
    EXPECT_EQ(win32ErrorMessage(2), "Win32 エラー。コード : 2.\nファイルが見つかりません。");
    // A code the system has no text for leaves the message ending in the line feed.
    EXPECT_EQ(win32ErrorMessage(0x2000FFFF), "Win32 エラー。コード : 536936447.\n");
    EXPECT_EQ(systemErrorText(0x2000FFFF), "");

    const EWin32Error zero(0);
    EXPECT_EQ(zero.errorCode(), 0u);
    EXPECT_EQ(std::string(zero.what()), "Win32 API 呼び出しに失敗しました");
}

TEST(Win32ErrorText, PlatformTextsAreTrimmedAsReceived)
{
    // Whatever language the platform answers in, the text ends in neither a
    // line break nor a full stop once trimmed.
    for (DWORD code : {2u, 3u, 5u, 193u}) {
        const std::string text = systemErrorText(code);
        ASSERT_FALSE(text.empty()) << code;
        const auto last = static_cast<unsigned char>(text.back());
        EXPECT_TRUE(last > 32 && last != '.') << code;
    }
}

TEST(InterpreterPath, ReadsComspec)
{
    ScopedEnvironment comspec("Comspec", "C:\\windows\\system32\\cmd.exe");
    EXPECT_EQ(ChildProcessLauncher::interpreterPath(), "C:\\windows\\system32\\cmd.exe");
}

TEST(InterpreterPath, UnsetOrEmptyComspecIsAClearFailure)
{
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        ScopedEnvironment comspec("Comspec", value);
        try {
            ChildProcessLauncher::interpreterPath();
            FAIL() << "no failure raised";
        } catch (const Exception& failure) {
            EXPECT_EQ(
                std::string(failure.what()),
                "環境変数 Comspec が設定されていません。コマンドインタプリタを起動できません。");
        }
    }
}

TEST(InterpreterPath, AcceptsExactly260CharactersAndRefusesMore)
{
    const std::string longest = "C:\\" + std::string(253, 'c') + ".exe";
    ASSERT_EQ(longest.size(), 260u);
    {
        ScopedEnvironment comspec("Comspec", longest.c_str());
        EXPECT_EQ(ChildProcessLauncher::interpreterPath(), longest);
    }
    ScopedEnvironment comspec("Comspec", (longest + "x").c_str());
    try {
        ChildProcessLauncher::interpreterPath();
        FAIL() << "no failure raised";
    } catch (const Exception& failure) {
        EXPECT_EQ(std::string(failure.what()),
                  "環境変数 Comspec が長すぎます (261 文字)。使えるのは 260 文字までです。");
    }
}

TEST_F(ChildProcessLauncherTest, RunAndWaitLeaksNoHandles)
{
    const std::string command = recorder + " /C tdump -h a.exe";
    auto handleCount = [] { return test::processHandleCount(GetCurrentProcessId()); };
    ChildProcessLauncher::runAndWait(command);
    const DWORD afterFirst = handleCount();
    ASSERT_GT(afterFirst, 0u) << "the platform reports no handle count";
    for (int i = 1; i < 200; ++i) {
        ChildProcessLauncher::runAndWait(command);
    }
    EXPECT_EQ(handleCount(), afterFirst);
    EXPECT_EQ(test::readRecorderLog(log).size(), 400u);
}

std::string environmentValue(const char* name)
{
    std::string value(32768, '\0');
    value.resize(GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size())));
    return value;
}

// This program lies beside tdump.exe, as Quellan.exe does when unpacked.
TEST(DumpToolFolder, GoesAtTheEndOfPathOnce)
{
    const ScopedEnvironment path("PATH", "C:\\windows\\system32;C:\\windows");
    ASSERT_TRUE(addDumpToolFolderToPath());
    EXPECT_EQ(environmentValue("PATH"),
              "C:\\windows\\system32;C:\\windows;" + test::programFolder());
    EXPECT_FALSE(addDumpToolFolderToPath());
    EXPECT_EQ(environmentValue("PATH"),
              "C:\\windows\\system32;C:\\windows;" + test::programFolder());
}

TEST(DumpToolFolder, APathThatCouldNotGrowIsLeftWhole)
{
    const std::string full(32766 - test::programFolder().size(), 'x'); // one short of fitting
    const ScopedEnvironment path("PATH", full.c_str());
    ASSERT_EQ(environmentValue("PATH"), full);
    EXPECT_FALSE(addDumpToolFolderToPath());
    EXPECT_EQ(environmentValue("PATH"), full);
}

} // namespace
} // namespace quellan
