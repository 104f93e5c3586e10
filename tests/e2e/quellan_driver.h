#pragma once

// Drives the real Quellan.exe from outside, as a user would: through window
// messages to its controls, the system's own open-file dialog and message
// box, and what the programs it starts were given. Every wait is bounded; a
// wait that runs out throws, so a hung program fails a test instead of
// hanging the run.

#include "test_support.h"
#include "unique_handle.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace quellan::e2e {

using test::OpenFileDialog;
using test::RecorderEvent;
using test::stepTimeoutMs;

// A copy of Quellan.exe in a folder of its own, with the recorder standing
// in for the programs it starts: as notepad.exe beside it, which the system
// finds before its own viewer, and as the interpreter named by Comspec.
// Every start is logged to one file.
//
// The copy has a file name never used before: the open-file dialog first
// opens where a program of the same file name last confirmed it, and
// Quellan's current folder follows the dialog. Under a shared name a test
// would open, and hold as its current folder, another test's folder (or a
// folder of the same name from an earlier run).
class Sandbox {
public:
    Sandbox();

    const std::string& quellan() const { return quellan_; }
    std::string interpreter() const { return programs_ + "\\cmd-recorder.exe"; }
    const std::string& programs() const { return programs_; }
    // The folder Quellan is started from unless a test says otherwise.
    const std::string& work() const { return work_; }
    const std::string& log() const { return log_; }
    std::string makeFolder(const std::string& name) const { return root_.makeFolder(name); }

    // notepad.exe beside Quellan.exe becomes a text file, which the system
    // refuses to start.
    void breakViewer() const;
    // The recorder as tdump.exe in folder, where the real cmd.exe finds it.
    void installDumpTool(const std::string& folder) const;

    // The starts (or ends) logged so far by the program called role
    // ("cmd-recorder", "notepad", "tdump").
    std::vector<RecorderEvent> events(const std::string& kind, const std::string& role) const;
    // Waits until role has logged count events of kind; returns them all.
    std::vector<RecorderEvent> waitForEvents(const std::string& kind, const std::string& role,
                                             std::size_t count) const;
    std::vector<std::string> commandLines(const std::string& role) const;

private:
    test::TempDir root_;
    std::string programs_;
    std::string quellan_;
    std::string work_;
    std::string log_;
};

// The archive a Windows user downloads, as built beside the programs.
std::string releaseArchive();

// The release archive unpacked with unzip, as a user unpacks the download,
// into a fresh folder. The archive's one top folder is renamed to
// folderName when one is given.
class UnpackedRelease {
public:
    explicit UnpackedRelease(const std::string& folderName = {});

    // The folder holding Quellan.exe, tdump.exe and the texts.
    const std::string& folder() const { return folder_; }
    const std::string& root() const { return root_.path(); }
    std::string quellan() const { return folder_ + "\\Quellan.exe"; }

private:
    test::TempDir root_;
    std::string folder_;
};

struct LaunchOptions {
    std::string program;                // the sandbox's Quellan.exe when empty
    std::optional<std::string> comspec; // left unset when not given
    std::optional<std::string> path;    // PATH; the test's own when not given
    std::string startDirectory;         // the sandbox's work folder when empty
    std::optional<DWORD> recorderSleepMs;
};

// Comspec naming the sandbox's recording interpreter, started in its work folder.
LaunchOptions recordingLaunch(const Sandbox& sandbox);

// The system's own command interpreter, cmd.exe.
std::string systemInterpreter();

// The system's folders only, as PATH: nothing of ours is found on it.
std::string systemPath();

// Runs commandLine without a window, in directory (the current folder when
// empty), and waits for it; throws when it cannot start or does not end.
void runHidden(const std::string& commandLine, const std::string& directory = {});

// A text read from another process: WM_GETTEXT, marshalled by the system.
std::string windowText(HWND window);

// A message box shown by Quellan.
class MessageBoxWindow {
public:
    explicit MessageBoxWindow(HWND window) : window_(window) {}
    HWND handle() const { return window_; }
    std::string text() const;
    void pressOk() const;

private:
    HWND window_;
};

// A running Quellan.exe. It and everything it starts live in a job that is
// closed with this object, so nothing outlives a test.
class RunningQuellan {
public:
    RunningQuellan(const Sandbox& sandbox, const LaunchOptions& options);
    RunningQuellan(const RunningQuellan&) = delete;
    RunningQuellan& operator=(const RunningQuellan&) = delete;
    ~RunningQuellan();

    HWND form() const { return form_; }
    HANDLE process() const { return process_.get(); }
    DWORD pid() const { return pid_; }
    HWND application() const { return application_; }

    HWND control(int id) const;
    std::string text(int id) const;
    std::string statusText() const;
    bool isEnabled(int id) const;
    bool isChecked(int id) const;
    // Sets a control's text; an edit box reports the change as if typed.
    // Throws when the user could not type into it (disabled).
    void setText(int id, const std::string& value) const;

    // A click that opens nothing modal: returns once it has been handled.
    void click(int id) const;
    // A click that may open a dialog or block the window: returns at once.
    void postClick(int id) const;
    // (Both throw when the user could not click: control or window disabled.)

    // Returns once the window's thread has come back to its message loop
    // (or a modal loop); throws when it does not within timeoutMs.
    void sync(DWORD timeoutMs = stepTimeoutMs) const;
    // Whether the window answers a message within timeoutMs.
    bool responds(DWORD timeoutMs) const;

    OpenFileDialog waitForOpenDialog() const;
    MessageBoxWindow waitForMessageBox() const;
    // Whether a window titled title of class #32770 is shown by Quellan now.
    bool hasDialog(const std::string& title) const;
    void waitUntilClosed(HWND window) const;

    // Chooses a file through the open-file dialog: types the name, confirms
    // it, and returns once the dialog has closed and the window is back in
    // its loop.
    void chooseFile(const std::string& name) const;
    // Chooses a file as a user browsing to it does: opens its folder in the
    // dialog first, then picks it there. (Wine's dialog moves the current
    // folder only as it browses, Windows' also for a path typed whole.)
    void chooseFileByBrowsing(const std::string& path) const;

    // Posts a click on the run button and waits until role (the stand-in
    // interpreter, or tdump under the real one) has ended runs times in all
    // and the window is back in its loop.
    void runAndWait(const Sandbox& sandbox, std::size_t runs,
                    const std::string& role = "cmd-recorder") const;

    // The close box in the title bar.
    void pressCloseBox() const;

    // Waits for the process to end; its exit code, or STILL_ACTIVE.
    DWORD waitForExit(DWORD timeoutMs = stepTimeoutMs) const;
    // Processes started in the job so far, Quellan itself included.
    DWORD processesStarted() const;
    // Brings the window to the top and lets it paint, for a screenshot.
    void bringToTop(HWND window) const;

private:
    void waitUntilInitialised();
    HWND clickable(int id) const;

    UniqueHandle job_;
    UniqueHandle process_;
    DWORD pid_ = 0;
    HWND form_ = nullptr;
    HWND application_ = nullptr;
};

// Upper-cases a..z of a text that holds single-byte characters only.
std::string asciiUpper(std::string text);

// Splits a command line as the C runtime does for main's argv.
std::vector<std::string> splitCommandLine(const std::string& commandLine);

} // namespace quellan::e2e
