#pragma once

// Helpers shared by the Windows test programs: temporary folders, the
// recorder's log, and starting programs.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace quellan::test {

// A fresh folder under the temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "\\" + name; }
    // Creates a sub-folder (and its parents) and returns its path.
    std::string makeFolder(const std::string& name) const;

private:
    std::string path_;
};

// How long a program may take over one step (answering a message, showing
// a window) before it is taken to be stuck. Wine starts a process in up to
// a few seconds on a busy machine.
constexpr DWORD stepTimeoutMs = 15000;

// Sends or posts to another process's window; throws when the window does
// not answer, or cannot be posted to.
LRESULT sendOrThrow(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                    DWORD timeoutMs = stepTimeoutMs);
void postOrThrow(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The system's open-file dialog, as shown by Quellan.
class OpenFileDialog {
public:
    explicit OpenFileDialog(HWND window) : window_(window) {}
    HWND handle() const { return window_; }
    // Types name into the file-name box, as if typed by the user.
    void typeFileName(const std::string& name) const;
    std::string fileName() const;
    // Opens folder in the dialog, as a user browsing there does; returns
    // once the dialog shows it, with an empty name box.
    void browseTo(const std::string& folder) const;
    void confirm() const;
    void cancel() const;

private:
    HWND fileNameBox() const;
    HWND window_;
};

// Wine's GetTickCount64 can lag by seconds; waits measure with this instead.
ULONGLONG nowMs();

// Finds a window of class className belonging to process pid, waiting up
// to timeoutMs for it to appear; nullptr when none does.
HWND findWindowOf(DWORD pid, const char* className, DWORD timeoutMs);

// The folder of the running test program, where all built programs lie.
std::string programFolder();

// One start or end of a recorder (see tests/recorder/recorder.cpp).
struct RecorderEvent {
    std::string kind; // "start" or "end"
    std::string role;
    unsigned long pid = 0;
    unsigned long long timeMicroseconds = 0;
    int show = -1;
    std::string directory;
    std::string path; // the PATH it was started with
    std::string commandLine;
};

std::vector<RecorderEvent> readRecorderLog(const std::string& path);

// Waits up to timeoutMs for the log to hold count events of kind.
std::vector<RecorderEvent> waitForRecorderEvents(const std::string& path, const std::string& kind,
                                                 std::size_t count, DWORD timeoutMs = 10000);

// Open handles of a process, counted in the system's handle list (Wine's
// GetProcessHandleCount answers 0 for every process). 0 when unavailable.
DWORD processHandleCount(DWORD pid);

// GDI objects of a process, counted in its GDI handle table (reached
// through its PEB), since Wine's GetGuiResources is a stub. The process
// handle needs PROCESS_QUERY_INFORMATION and PROCESS_VM_READ. -1 when the
// table cannot be read.
int gdiObjectCount(HANDLE process);

// USER objects of a process, counted as its windows (top-level and child).
int windowCount(DWORD pid);

// A program's version resource, as Explorer reads it.
struct VersionInfo {
    DWORD fileVersionMS = 0;
    DWORD fileVersionLS = 0;
    DWORD fileFlags = 0; // the flags that are valid (VS_FF_DEBUG, ...)
    std::string fileVersion;
    std::string productVersion;
    std::string originalFilename;
    std::string productName;
};

// Throws when the program has no version resource.
VersionInfo readVersionInfo(const std::string& program);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& contents);
void copyFile(const std::string& from, const std::string& to);

} // namespace quellan::test
