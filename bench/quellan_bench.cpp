// Measures Quellan under the platform it runs on, beside the platform's own
// floor measured in the same run:
//   start-up     process start to the initialised, idle window, against
//                the system's notepad.exe reaching its idle window (pairs
//                alternated, after a warm-up; the median of the ratios);
//   footprint    working set and private bytes once started, both programs;
//   round trip   the run click to the interpreter's start, and the
//                interpreter's end to the viewer's start, against a bare
//                program starting the same children.
// It is a GUI program without a console, as Quellan is, so the interpreter
// gets a console of its own as on a desktop.
//
//   quellan_bench.exe RESULTS-FILE [PAIRS] [ROUND-TRIPS]

#include "child_process_launcher.h"
#include "control_ids.h"
#include "test_support.h"
#include "unique_handle.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using quellan::UniqueHandle;
using namespace quellan::controls;

double nowMicroseconds()
{
    FILETIME time;
    GetSystemTimePreciseAsFileTime(&time);
    return static_cast<double>((static_cast<unsigned long long>(time.dwHighDateTime) << 32) |
                               time.dwLowDateTime) /
           10.0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0.0 : n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Process {
    UniqueHandle handle;
    DWORD pid = 0;
};

Process start(const std::string& command, const std::string& directory = {})
{
    std::string commandLine = command; // CreateProcessA may write into it
    // Quellan hands its own start-up information on to the interpreter; the
    // floor hands on this program's. Giving Quellan the same makes the
    // interpreter's console come up the same way in both.
    STARTUPINFOA startup{};
    GetStartupInfoA(&startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &info)) {
        std::fprintf(stderr, "cannot start %s (%lu)\n", commandLine.c_str(), GetLastError());
        std::exit(2);
    }
    const UniqueHandle thread(info.hThread);
    return {UniqueHandle(info.hProcess), info.dwProcessId};
}

HWND windowOf(DWORD pid, const char* className)
{
    return quellan::test::findWindowOf(pid, className, 20000);
}

std::string text(HWND window)
{
    char buffer[512];
    DWORD_PTR length = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                        SMTO_BLOCK, 5000, &length);
    return std::string(buffer, length);
}

void close(const Process& process, HWND window)
{
    PostMessageA(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.handle.get(), 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process.handle.get(), 1);
    }
}

struct Footprint {
    double workingSetKiB = 0;
    double privateKiB = 0;
};

Footprint footprintOf(const Process& process)
{
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(process.handle.get(),
                         reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
    // Wine leaves PrivateUsage at 0; the commit charge (PagefileUsage) is
    // the same figure on Windows.
    const SIZE_T privateBytes =
        counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
    return {static_cast<double>(counters.WorkingSetSize) / 1024,
            static_cast<double>(privateBytes) / 1024};
}

// Start-up to the initialised window: idle, with the captions filled in.
double startQuellan(const std::string& exe, Footprint* footprint)
{
    const double begin = nowMicroseconds();
    Process quellan = start(exe);
    WaitForInputIdle(quellan.handle.get(), 20000);
    HWND form = windowOf(quellan.pid, "TForm1");
    while (text(GetDlgItem(form, radioButton(28))).rfind("-um", 0) != 0) {
        Sleep(1);
    }
    WaitForInputIdle(quellan.handle.get(), 20000);
    const double elapsed = nowMicroseconds() - begin;
    if (footprint != nullptr) {
        Sleep(500);
        *footprint = footprintOf(quellan);
    }
    close(quellan, form);
    return elapsed;
}

double startNotepad(Footprint* footprint)
{
    const double begin = nowMicroseconds();
    Process notepad = start("C:\\windows\\notepad.exe");
    WaitForInputIdle(notepad.handle.get(), 20000);
    HWND window = windowOf(notepad.pid, "Notepad");
    WaitForInputIdle(notepad.handle.get(), 20000);
    const double elapsed = nowMicroseconds() - begin;
    if (footprint != nullptr) {
        Sleep(500);
        *footprint = footprintOf(notepad);
    }
    close(notepad, window);
    return elapsed;
}

// The recorder log's events of one role, in order.
std::vector<quellan::test::RecorderEvent> events(const std::string& log, const std::string& kind,
                                                 const std::string& role)
{
    std::vector<quellan::test::RecorderEvent> matching;
    for (const auto& event : quellan::test::readRecorderLog(log)) {
        if (event.kind == kind && event.role == role) {
            matching.push_back(event);
        }
    }
    return matching;
}

// Polls gently: a tight loop reading the log would take the processor
// from the very process starts being timed.
void waitFor(const std::function<bool()>& done)
{
    const ULONGLONG deadline = GetTickCount64() + 30000;
    while (!done() && GetTickCount64() < deadline) {
        Sleep(25);
    }
}

// Chooses a file through the real dialog, so the run button is enabled.
void chooseFile(const Process& quellan, HWND form, const std::string& file)
{
    PostMessageA(GetDlgItem(form, Button3), BM_CLICK, 0, 0);
    HWND dialog = nullptr;
    waitFor([&] {
        dialog = FindWindowA("#32770", "Select TDump File");
        return dialog != nullptr && IsWindowVisible(dialog);
    });
    HWND name = GetDlgItem(dialog, 0x47C); // the file name combo box
    HWND edit = name != nullptr ? FindWindowExA(name, nullptr, "Edit", nullptr) : nullptr;
    SendMessageA(edit != nullptr ? edit : GetDlgItem(dialog, 0x480), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(file.c_str()));
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    waitFor([&] { return IsWindowEnabled(GetDlgItem(form, Button1)) != FALSE; });
    WaitForInputIdle(quellan.handle.get(), 5000);
}

struct RoundTrips {
    std::vector<double> clickToInterpreter, interpreterToViewer;
    std::vector<double> floorStart, floorExitToStart;

    // Quellan's share: the median of the differences of runs made one
    // right after the other, which cancels most of the platform's drift.
    static double share(const std::vector<double>& mine, const std::vector<double>& floor)
    {
        std::vector<double> differences;
        for (std::size_t i = 0; i < mine.size() && i < floor.size(); ++i) {
            differences.push_back(mine[i] - floor[i]);
        }
        return median(differences);
    }
};

RoundTrips measureRoundTrips(int runs)
{
    const quellan::test::TempDir dir;
    const std::string folder = quellan::test::programFolder();
    quellan::test::copyFile(folder + "\\Quellan.exe", dir.file("Quellan.exe"));
    quellan::test::copyFile(folder + "\\recorder.exe", dir.file("interp.exe"));
    quellan::test::copyFile(folder + "\\recorder.exe", dir.file("notepad.exe"));
    const std::string log = dir.file("log.txt");
    const std::string interpreter = dir.file("interp.exe");
    SetEnvironmentVariableA("QUELLAN_RECORDER_LOG", log.c_str());
    SetEnvironmentVariableA("Comspec", interpreter.c_str());

    Process quellan = start(dir.file("Quellan.exe"), dir.path());
    WaitForInputIdle(quellan.handle.get(), 20000);
    HWND form = windowOf(quellan.pid, "TForm1");
    chooseFile(quellan, form, dir.file("input.bin"));

    RoundTrips result;
    for (int i = 0; i < runs; ++i) {
        // Quellan's own run.
        const std::size_t viewersBefore = events(log, "start", "notepad").size();
        const double click = nowMicroseconds();
        PostMessageA(GetDlgItem(form, Button1), BM_CLICK, 0, 0);
        WaitForInputIdle(quellan.handle.get(), 30000); // the run's handler has returned
        waitFor([&] { return events(log, "start", "notepad").size() > viewersBefore; });
        const auto interpreterStarts = events(log, "start", "interp");
        const auto interpreterEnds = events(log, "end", "interp");
        const auto viewerStarts = events(log, "start", "notepad");
        result.clickToInterpreter.push_back(
            static_cast<double>(interpreterStarts.back().timeMicroseconds) - click);
        result.interpreterToViewer.push_back(
            static_cast<double>(viewerStarts.back().timeMicroseconds) -
            static_cast<double>(interpreterEnds.back().timeMicroseconds));
        waitFor([&] { return events(log, "end", "notepad").size() > viewersBefore; });

        // The floor: this bare program starting the same children through
        // the same launcher calls, without a window in between.
        const std::size_t interpretersBefore = events(log, "start", "interp").size();
        const double begin = nowMicroseconds();
        quellan::ChildProcessLauncher::runAndWait(interpreter + " /C tdump -h floor");
        quellan::ChildProcessLauncher::startDetached(dir.file("notepad.exe") + " floor.txt");
        waitFor([&] { return events(log, "end", "notepad").size() > viewersBefore + 1; });
        const auto floorStarts = events(log, "start", "interp");
        const auto floorEnds = events(log, "end", "interp");
        if (floorStarts.size() > interpretersBefore) {
            result.floorStart.push_back(static_cast<double>(floorStarts.back().timeMicroseconds) -
                                        begin);
            result.floorExitToStart.push_back(
                static_cast<double>(events(log, "start", "notepad").back().timeMicroseconds) -
                static_cast<double>(floorEnds.back().timeMicroseconds));
        }
    }
    close(quellan, form);
    return result;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    if (__argc < 2) {
        return 2;
    }
    const std::string output = __argv[1];
    const int pairs = __argc > 2 ? std::atoi(__argv[2]) : 10;
    const int runs = __argc > 3 ? std::atoi(__argv[3]) : 50;
    const std::string quellanExe = quellan::test::programFolder() + "\\Quellan.exe";

    // Warm-up, then pairs with the order alternated.
    startQuellan(quellanExe, nullptr);
    startNotepad(nullptr);
    std::vector<double> quellanTimes, notepadTimes, ratios;
    Footprint quellanFootprint, notepadFootprint;
    for (int i = 0; i < pairs; ++i) {
        double q = 0, n = 0;
        const bool last = i + 1 == pairs;
        if (i % 2 == 0) {
            q = startQuellan(quellanExe, last ? &quellanFootprint : nullptr);
            n = startNotepad(last ? &notepadFootprint : nullptr);
        } else {
            n = startNotepad(last ? &notepadFootprint : nullptr);
            q = startQuellan(quellanExe, last ? &quellanFootprint : nullptr);
        }
        quellanTimes.push_back(q / 1000);
        notepadTimes.push_back(n / 1000);
        ratios.push_back(q / n);
    }
    const RoundTrips trips = measureRoundTrips(runs);

    std::ostringstream table;
    table.setf(std::ios::fixed);
    table.precision(1);
    table << "start-up to idle window (ms, median of " << pairs << " pairs)\tQuellan "
          << median(quellanTimes) << "\tnotepad " << median(notepadTimes)
          << "\tratio Quellan/notepad " << median(ratios) * 100 / 100 << "\n";
    table << "working set after start-up (KiB)\tQuellan " << quellanFootprint.workingSetKiB
          << "\tnotepad " << notepadFootprint.workingSetKiB << "\n";
    table << "private bytes after start-up (KiB)\tQuellan " << quellanFootprint.privateKiB
          << "\tnotepad " << notepadFootprint.privateKiB << "\n";
    const auto ms = [](double us) { return us / 1000; };
    table.precision(2);
    table << "click to interpreter start (ms, median of " << runs << ")\tQuellan "
          << ms(median(trips.clickToInterpreter)) << "\tfloor " << ms(median(trips.floorStart))
          << "\tQuellan's share "
          << ms(RoundTrips::share(trips.clickToInterpreter, trips.floorStart)) << "\n";
    table << "interpreter end to viewer start (ms, median of " << runs << ")\tQuellan "
          << ms(median(trips.interpreterToViewer)) << "\tfloor "
          << ms(median(trips.floorExitToStart)) << "\tQuellan's share "
          << ms(RoundTrips::share(trips.interpreterToViewer, trips.floorExitToStart)) << "\n";
    std::ofstream(output) << table.str();
    return 0;
}
