#include "quellan_driver.h"

#include "control_ids.h"
#include "resources.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace quellan::e2e {
namespace {

using namespace controls;

constexpr char openDialogTitle[] = "Select TDump File";
constexpr char messageBoxTitle[] = "Quellan";

// The text of a message box, by the identifier Windows gives it.
constexpr int messageBoxText = 0xFFFF;

using test::nowMs;
using test::postOrThrow;
using test::sendOrThrow;

bool timedOut(ULONGLONG deadline)
{
    return nowMs() >= deadline;
}

std::string className(HWND window)
{
    char name[256] = {};
    const int length = GetClassNameA(window, name, sizeof name);
    return std::string(name, static_cast<std::size_t>(std::max(length, 0)));
}

// The title as the system keeps it: no message is sent, so a window busy
// in a modal loop or a wait answers too.
std::string storedTitle(HWND window)
{
    char title[512] = {};
    const int length = GetWindowTextA(window, title, sizeof title);
    return std::string(title, static_cast<std::size_t>(std::max(length, 0)));
}

bool equalsIgnoringCase(const std::string& a, const std::string& b)
{
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// The test's own environment with the variables Quellan is meant to see
// replaced; names compare without regard to case, as Windows does.
std::string environmentBlock(const Sandbox& sandbox, const LaunchOptions& options)
{
    std::vector<std::string> replaced{"Comspec", "QUELLAN_RECORDER_LOG",
                                      "QUELLAN_RECORDER_SLEEP_MS"};
    if (options.path) {
        replaced.emplace_back("PATH");
    }
    std::vector<std::string> entries;
    LPCH strings = GetEnvironmentStringsA();
    for (const char* entry = strings; *entry != '\0'; entry += std::strlen(entry) + 1) {
        const std::string text(entry);
        // A name may begin with '=' (the drive directories).
        const std::string name = text.substr(0, text.find('=', 1));
        const bool isReplaced =
            std::any_of(replaced.begin(), replaced.end(),
                        [&](const std::string& r) { return equalsIgnoringCase(r, name); });
        if (!isReplaced) {
            entries.push_back(text);
        }
    }
    FreeEnvironmentStringsA(strings);
    if (options.comspec) {
        entries.push_back("Comspec=" + *options.comspec);
    }
    if (options.path) {
        entries.push_back("PATH=" + *options.path);
    }
    entries.push_back("QUELLAN_RECORDER_LOG=" + sandbox.log());
    if (options.recorderSleepMs) {
        entries.push_back("QUELLAN_RECORDER_SLEEP_MS=" + std::to_string(*options.recorderSleepMs));
    }
    std::string block;
    for (const std::string& entry : entries) {
        block += entry;
        block += '\0';
    }
    block += '\0';
    return block;
}

struct WindowSearch {
    DWORD pid;
    std::string className;
    std::optional<std::string> title;
    HWND found;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid && className(window) == search->className &&
        (!search->title || storedTitle(window) == *search->title)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND findWindow(DWORD pid, const std::string& windowClass, std::optional<std::string> title)
{
    WindowSearch search{pid, windowClass, std::move(title), nullptr};
    EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Memory in another process, for messages whose buffers the system does
// not carry across.
class RemoteBuffer {
public:
    RemoteBuffer(HANDLE process, std::size_t size)
        : process_(process), address_(VirtualAllocEx(process, nullptr, size,
                                                     MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)),
          size_(size)
    {
        if (address_ == nullptr) {
            throw std::runtime_error("VirtualAllocEx failed: " + std::to_string(GetLastError()));
        }
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;
    ~RemoteBuffer() { VirtualFreeEx(process_, address_, 0, MEM_RELEASE); }

    LPARAM address() const { return reinterpret_cast<LPARAM>(address_); }
    std::string readString() const
    {
        std::vector<char> local(size_, '\0');
        SIZE_T read = 0;
        if (!ReadProcessMemory(process_, address_, local.data(), local.size(), &read)) {
            throw std::runtime_error("ReadProcessMemory failed: " + std::to_string(GetLastError()));
        }
        return std::string(local.data(), strnlen(local.data(), read));
    }

private:
    HANDLE process_;
    void* address_;
    std::size_t size_;
};

// A file name never used before in this prefix: Wine gives test processes
// run one after another the same id, and so the same sandbox folder names.
std::string uniqueProgramName()
{
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return "Quellan-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(count.QuadPart) + ".exe";
}

std::wstring toWide(const std::string& text)
{
    const int length =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string toNarrow(const std::wstring& text)
{
    const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                        length, nullptr, nullptr);
    return narrow;
}

// The host's path of a file under Wine, for a host program.
std::wstring hostPath(const std::string& path)
{
    using ToHost = char*(CDECL*)(LPCWSTR);
    const auto toHost = reinterpret_cast<ToHost>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (toHost == nullptr) {
        throw std::runtime_error("the release tests unpack with the host's unzip, under Wine only");
    }
    const std::wstring windowsPath = toWide(path);
    char* host = toHost(windowsPath.c_str());
    if (host == nullptr) {
        throw std::runtime_error("no host path for " + path);
    }
    // Host file names are UTF-8.
    const int length = MultiByteToWideChar(CP_UTF8, 0, host, -1, nullptr, 0);
    std::wstring result(static_cast<std::size_t>(std::max(length - 1, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, host, -1, result.data(), length);
    HeapFree(GetProcessHeap(), 0, host);
    return result;
}

// Runs a shell command on the host and returns its exit status. Wine starts
// host programs but gives no handle to wait on, so the shell leaves the
// status in statusFile (a host path) and this polls for it.
int runHostCommand(const std::wstring& command, const std::string& statusFile)
{
    std::wstring line =
        L"/bin/sh -c \"" + command + L"; echo $? > '" + hostPath(statusFile) + L"'\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info)) {
        throw std::runtime_error("cannot start the host's shell: " +
                                 std::to_string(GetLastError()));
    }
    const UniqueHandle process(info.hProcess), thread(info.hThread);
    const ULONGLONG deadline = nowMs() + 4ULL * stepTimeoutMs;
    for (;;) {
        const std::string status = test::readFile(statusFile);
        if (!status.empty() && status.back() == '\n') {
            return std::stoi(status);
        }
        if (timedOut(deadline)) {
            throw std::runtime_error("a host command did not end");
        }
        Sleep(20);
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Folders and the sandbox

Sandbox::Sandbox()
    : programs_(root_.makeFolder("bin")), quellan_(programs_ + "\\" + uniqueProgramName()),
      work_(root_.makeFolder("work")), log_(root_.file("recorder.log"))
{
    const std::string built = test::programFolder();
    test::copyFile(built + "\\Quellan.exe", quellan_);
    test::copyFile(built + "\\recorder.exe", programs_ + "\\notepad.exe");
    test::copyFile(built + "\\recorder.exe", interpreter());
}

std::string releaseArchive()
{
    // Written by the release.package test (cpack) before these tests run.
    return test::programFolder() + "\\..\\package\\Quellan-" QUELLAN_FILE_VERSION_TEXT "-win64.zip";
}

UnpackedRelease::UnpackedRelease(const std::string& folderName)
{
    const std::wstring command =
        L"unzip -q '" + hostPath(releaseArchive()) + L"' -d '" + hostPath(root_.path()) + L"'";
    if (runHostCommand(command, root_.file("unzip.status")) != 0) {
        throw std::runtime_error("unzip could not unpack the release archive");
    }
    DeleteFileA(root_.file("unzip.status").c_str());
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((root_.path() + "\\Quellan-*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("the archive holds no Quellan-<version> folder");
    }
    FindClose(search);
    folder_ = root_.file(found.cFileName);
    if (!folderName.empty()) {
        const std::string renamed = root_.file(folderName);
        if (!MoveFileA(folder_.c_str(), renamed.c_str())) {
            throw std::runtime_error("cannot rename " + folder_ + " to " + renamed);
        }
        folder_ = renamed;
    }
}

void Sandbox::breakViewer() const
{
    test::writeFile(programs_ + "\\notepad.exe", "not a program\r\n");
}

void Sandbox::installDumpTool(const std::string& folder) const
{
    test::copyFile(test::programFolder() + "\\recorder.exe", folder + "\\tdump.exe");
}

std::vector<RecorderEvent> Sandbox::events(const std::string& kind, const std::string& role) const
{
    std::vector<RecorderEvent> matching;
    for (const RecorderEvent& event : test::readRecorderLog(log_)) {
        if (event.kind == kind && event.role == role) {
            matching.push_back(event);
        }
    }
    return matching;
}

std::vector<RecorderEvent> Sandbox::waitForEvents(const std::string& kind, const std::string& role,
                                                  std::size_t count) const
{
    const ULONGLONG deadline = nowMs() + stepTimeoutMs;
    for (;;) {
        std::vector<RecorderEvent> matching = events(kind, role);
        if (matching.size() >= count || timedOut(deadline)) {
            return matching;
        }
        Sleep(20);
    }
}

std::vector<std::string> Sandbox::commandLines(const std::string& role) const
{
    std::vector<std::string> lines;
    for (const RecorderEvent& event : events("start", role)) {
        lines.push_back(event.commandLine);
    }
    return lines;
}

LaunchOptions recordingLaunch(const Sandbox& sandbox)
{
    LaunchOptions options;
    options.comspec = sandbox.interpreter();
    options.startDirectory = sandbox.work();
    return options;
}

void runHidden(const std::string& commandLine, const std::string& directory)
{
    std::string line = commandLine; // CreateProcessA may write into it
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &info)) {
        throw std::runtime_error("cannot start " + commandLine + ": " +
                                 std::to_string(GetLastError()));
    }
    const UniqueHandle process(info.hProcess), thread(info.hThread);
    if (WaitForSingleObject(process.get(), stepTimeoutMs) != WAIT_OBJECT_0) {
        throw std::runtime_error(commandLine + " did not end");
    }
}

std::string systemPath()
{
    char system[MAX_PATH];
    char windows[MAX_PATH];
    const UINT systemLength = GetSystemDirectoryA(system, MAX_PATH);
    const UINT windowsLength = GetWindowsDirectoryA(windows, MAX_PATH);
    return std::string(system, systemLength) + ";" + std::string(windows, windowsLength);
}

std::string systemInterpreter()
{
    char folder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    return std::string(folder, length) + "\\cmd.exe";
}

// ---------------------------------------------------------------------------
// Windows of another process

std::string windowText(HWND window)
{
    // The length is asked in UTF-16 units: Wine's rich edit answers the
    // ANSI WM_GETTEXTLENGTH from another process with 0. A unit becomes at
    // most two bytes of code page 932.
    DWORD_PTR units = 0;
    if (SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, stepTimeoutMs, &units) ==
        0) {
        throw std::runtime_error("a window did not answer WM_GETTEXTLENGTH");
    }
    std::vector<char> buffer(2 * units + 2, '\0');
    sendOrThrow(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
    return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

std::string MessageBoxWindow::text() const
{
    HWND label = GetDlgItem(window_, messageBoxText);
    if (label == nullptr) {
        throw std::runtime_error("the message box has no text control");
    }
    return windowText(label);
}

void MessageBoxWindow::pressOk() const
{
    postOrThrow(GetDlgItem(window_, IDOK), BM_CLICK, 0, 0);
}

// ---------------------------------------------------------------------------
// The running program

RunningQuellan::RunningQuellan(const Sandbox& sandbox, const LaunchOptions& options)
    : job_(CreateJobObjectA(nullptr, nullptr))
{
    if (!job_) {
        throw std::runtime_error("CreateJobObject failed: " + std::to_string(GetLastError()));
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);

    const std::string startDirectory =
        options.startDirectory.empty() ? sandbox.work() : options.startDirectory;
    const std::string program = options.program.empty() ? sandbox.quellan() : options.program;
    std::string environment = environmentBlock(sandbox, options);
    // (Built piece by piece: g++ 12 misreads a literal + string here as an overlapping copy.)
    std::string commandLine(1, '"');
    commandLine += program;
    commandLine += '"';
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    // Suspended until it is in the job, so even its first child is caught.
    if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_SUSPENDED, environment.data(), startDirectory.c_str(), &startup,
                        &info)) {
        throw std::runtime_error("cannot start " + program + ": " + std::to_string(GetLastError()));
    }
    process_ = UniqueHandle(info.hProcess);
    const UniqueHandle thread(info.hThread);
    pid_ = info.dwProcessId;
    if (!AssignProcessToJobObject(job_.get(), process_.get())) {
        TerminateProcess(process_.get(), 1);
        throw std::runtime_error("AssignProcessToJobObject failed: " +
                                 std::to_string(GetLastError()));
    }
    ResumeThread(thread.get());
    waitUntilInitialised();
}

RunningQuellan::~RunningQuellan()
{
    TerminateJobObject(job_.get(), 1);
    WaitForSingleObject(process_.get(), stepTimeoutMs);
    // The children too, so their folder can be removed.
    const ULONGLONG deadline = nowMs() + stepTimeoutMs;
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    while (QueryInformationJobObject(job_.get(), JobObjectBasicAccountingInformation, &accounting,
                                     sizeof accounting, nullptr) &&
           accounting.ActiveProcesses > 0 && !timedOut(deadline)) {
        Sleep(20);
    }
}

void RunningQuellan::waitUntilInitialised()
{
    const ULONGLONG start = nowMs();
    const ULONGLONG deadline = start + 2ULL * stepTimeoutMs;
    bool nudged = false;
    for (;;) {
        if (WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(process_.get(), &code);
            throw std::runtime_error("Quellan.exe ended during start-up with code " +
                                     std::to_string(code));
        }
        form_ = findWindow(pid_, "TForm1", std::nullopt);
        application_ = findWindow(pid_, "TApplication", std::nullopt);
        if (form_ != nullptr && IsWindowVisible(form_)) {
            // The usage text is the last thing the first activation sets.
            HWND usage = GetDlgItem(form_, RichEdit1);
            const std::string text = usage != nullptr ? windowText(usage) : std::string();
            if (!text.empty() && text != "RichEdit1") {
                break;
            }
            // Another test's window may have taken the activation that
            // initialises the form.
            if (!nudged && nowMs() - start > 3000) {
                SetForegroundWindow(form_);
                nudged = true;
            }
        }
        if (timedOut(deadline)) {
            throw std::runtime_error("Quellan.exe did not initialise its window");
        }
        Sleep(20);
    }
    WaitForInputIdle(process_.get(), stepTimeoutMs);
    sync();
}

HWND RunningQuellan::control(int id) const
{
    HWND window = GetDlgItem(form_, id);
    if (window == nullptr) {
        throw std::runtime_error("no control with id " + std::to_string(id));
    }
    return window;
}

std::string RunningQuellan::text(int id) const
{
    return windowText(control(id));
}

std::string RunningQuellan::statusText() const
{
    // The status bar keeps no text for other processes: its buffer has to
    // be in Quellan, and Wine answers index 0 for the simple-mode text.
    RemoteBuffer buffer(process_.get(), 65536);
    sendOrThrow(control(StatusBar1), SB_GETTEXTA, 0, buffer.address());
    return buffer.readString();
}

bool RunningQuellan::isEnabled(int id) const
{
    return IsWindowEnabled(control(id)) != FALSE;
}

bool RunningQuellan::isChecked(int id) const
{
    return sendOrThrow(control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void RunningQuellan::setText(int id, const std::string& value) const
{
    HWND box = control(id);
    if (!IsWindowEnabled(form_) || !IsWindowEnabled(box)) {
        throw std::logic_error("control " + std::to_string(id) +
                               " cannot be typed into: it is disabled");
    }
    sendOrThrow(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value.c_str()));
}

HWND RunningQuellan::clickable(int id) const
{
    // A click message reaches even a disabled button; a user's click does not.
    HWND button = control(id);
    if (!IsWindowEnabled(form_) || !IsWindowEnabled(button)) {
        throw std::logic_error("control " + std::to_string(id) +
                               " cannot be clicked: it is disabled");
    }
    return button;
}

void RunningQuellan::click(int id) const
{
    sendOrThrow(clickable(id), BM_CLICK, 0, 0);
}

void RunningQuellan::postClick(int id) const
{
    postOrThrow(clickable(id), BM_CLICK, 0, 0);
}

void RunningQuellan::sync(DWORD timeoutMs) const
{
    sendOrThrow(form_, WM_NULL, 0, 0, timeoutMs);
}

bool RunningQuellan::responds(DWORD timeoutMs) const
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(form_, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result) != 0;
}

bool RunningQuellan::hasDialog(const std::string& title) const
{
    HWND window = findWindow(pid_, "#32770", title);
    return window != nullptr && IsWindowVisible(window);
}

OpenFileDialog RunningQuellan::waitForOpenDialog() const
{
    const ULONGLONG deadline = nowMs() + stepTimeoutMs;
    HWND dialog = nullptr;
    while ((dialog = findWindow(pid_, "#32770", openDialogTitle)) == nullptr ||
           !IsWindowVisible(dialog)) {
        if (timedOut(deadline)) {
            throw std::runtime_error("no open-file dialog appeared");
        }
        Sleep(20);
    }
    // Shown, and placed by the hook before it was shown; let it settle.
    sync();
    return OpenFileDialog(dialog);
}

MessageBoxWindow RunningQuellan::waitForMessageBox() const
{
    const ULONGLONG deadline = nowMs() + stepTimeoutMs;
    HWND box = nullptr;
    while ((box = findWindow(pid_, "#32770", messageBoxTitle)) == nullptr ||
           !IsWindowVisible(box)) {
        if (timedOut(deadline)) {
            throw std::runtime_error("no message box appeared");
        }
        Sleep(20);
    }
    sync();
    return MessageBoxWindow(box);
}

void RunningQuellan::waitUntilClosed(HWND window) const
{
    const ULONGLONG deadline = nowMs() + stepTimeoutMs;
    while (IsWindow(window)) {
        if (timedOut(deadline)) {
            throw std::runtime_error("a window did not close");
        }
        Sleep(20);
    }
    sync();
}

void RunningQuellan::chooseFile(const std::string& name) const
{
    postClick(Button3);
    const OpenFileDialog dialog = waitForOpenDialog();
    dialog.typeFileName(name);
    dialog.confirm();
    waitUntilClosed(dialog.handle());
}

void RunningQuellan::chooseFileByBrowsing(const std::string& path) const
{
    const std::size_t backslash = path.rfind('\\');
    postClick(Button3);
    const OpenFileDialog dialog = waitForOpenDialog();
    dialog.browseTo(path.substr(0, backslash));
    dialog.typeFileName(path.substr(backslash + 1));
    dialog.confirm();
    waitUntilClosed(dialog.handle());
}

void RunningQuellan::runAndWait(const Sandbox& sandbox, std::size_t runs,
                                const std::string& role) const
{
    postClick(Button1);
    if (sandbox.waitForEvents("end", role, runs).size() < runs) {
        throw std::runtime_error("the run did not reach " + role);
    }
    // The run has ended once the window is back in its loop.
    sync();
}

void RunningQuellan::pressCloseBox() const
{
    postOrThrow(form_, WM_SYSCOMMAND, SC_CLOSE, 0);
}

DWORD RunningQuellan::waitForExit(DWORD timeoutMs) const
{
    WaitForSingleObject(process_.get(), timeoutMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.get(), &code);
    return code;
}

DWORD RunningQuellan::processesStarted() const
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    if (!QueryInformationJobObject(job_.get(), JobObjectBasicAccountingInformation, &accounting,
                                   sizeof accounting, nullptr)) {
        throw std::runtime_error("QueryInformationJobObject failed: " +
                                 std::to_string(GetLastError()));
    }
    return accounting.TotalProcesses;
}

void RunningQuellan::bringToTop(HWND window) const
{
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    // Invalidated only: Quellan paints in its own loop. (Asked to paint at
    // once from here, Wine erases another process's windows black.) Raising
    // a window exposes parts that it repaints once the X server's events
    // reach it, and a dialog's children fill in as they come up: let it
    // settle over a few rounds.
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    for (int round = 0; round < 3; ++round) {
        sync();
        Sleep(200);
    }
}

// ---------------------------------------------------------------------------

std::string asciiUpper(std::string text)
{
    for (char& c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            throw std::invalid_argument("asciiUpper: not a single-byte text: " + text);
        }
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

std::vector<std::string> splitCommandLine(const std::string& commandLine)
{
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(toWide(commandLine).c_str(), &count);
    std::vector<std::string> result;
    result.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        result.push_back(toNarrow(arguments[i]));
    }
    LocalFree(arguments);
    return result;
}

} // namespace quellan::e2e
