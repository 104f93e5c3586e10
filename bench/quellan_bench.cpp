// Measures Quellan under the platform it runs on, beside the platform's own
// floor measured in the same run:
//   start-up     process start to the initialised, idle window, against
//                the system's notepad.exe reaching its idle window, and
//                against bare_form.exe, the same two top-level windows with
//                no controls, with as many plain child windows, and with
//                the libraries Quellan's controls need as well (rounds
//                rotated, after a warm-up; the medians of the ratios);
//   footprint    working set and private bytes once started, Quellan and
//                notepad;
//   round trip   the run click to the interpreter's start, and the
//                interpreter's end to the viewer's start, against the
//                click on bare_form.exe's run button, which starts the same
//                children through the same launcher calls.
// It is a GUI program without a console, as Quellan is, so the interpreter
// gets a console of its own as on a desktop.
//
//   quellan_bench.exe RESULTS-FILE [ROUNDS] [ROUND-TRIPS]

#include "control_ids.h"
#include "test_support.h"
#include "unique_handle.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <functional>
#include <sstream>
#include <stdexcept>
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
        throw std::runtime_error("cannot start " + command + " (error " +
                                 std::to_string(GetLastError()) + ")");
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

// Start-up to an idle window: the process started, its window of the given
// class found, and its queue idle once `initialised` holds for the window.
double timeStart(const std::string& command, const char* className,
                 const std::function<bool(HWND)>& initialised, Footprint* footprint)
{
    const double begin = nowMicroseconds();
    Process process = start(command);
    WaitForInputIdle(process.handle.get(), 20000);
    HWND window = windowOf(process.pid, className);
    while (!initialised(window)) {
        Sleep(1);
    }
    WaitForInputIdle(process.handle.get(), 20000);
    const double elapsed = nowMicroseconds() - begin;
    if (footprint != nullptr) {
        Sleep(500);
        *footprint = footprintOf(process);
    }
    close(process, window);
    return elapsed;
}

// The programs whose start-up is timed, each in every round.
struct StartUpSubject {
    std::string command;
    const char* className;
    std::function<bool(HWND)> initialised;
    std::vector<double> milliseconds;
    Footprint footprint;
};

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

// Chooses a file through the real dialog, so the run button is enabled; the
// round trips are meaningless without it, so the benchmark stops there.
void chooseFile(const Process& quellan, HWND form, const std::string& file)
{
    PostMessageA(GetDlgItem(form, Button3), BM_CLICK, 0, 0);
    HWND found = nullptr;
    waitFor([&] {
        found = FindWindowA("#32770", "Select TDump File");
        return found != nullptr && IsWindowVisible(found);
    });
    if (found == nullptr) {
        throw std::runtime_error("the open-file dialog did not appear");
    }
    const quellan::test::OpenFileDialog dialog(found);
    // The dialog fills in its own file-name box as it settles: wait for it
    // to answer before typing over it.
    quellan::test::sendOrThrow(dialog.handle(), WM_NULL, 0, 0);
    dialog.typeFileName(file);
    dialog.confirm();
    waitFor([&] { return IsWindowEnabled(GetDlgItem(form, Button1)) != FALSE; });
    if (IsWindowEnabled(GetDlgItem(form, Button1)) == FALSE) {
        throw std::runtime_error("the file choice did not enable the run button");
    }
    WaitForInputIdle(quellan.handle.get(), 5000);
}

// One program's round trips, run by run.
struct Trips {
    std::vector<double> clickToInterpreter;
    std::vector<double> interpreterToViewer;
};

struct RoundTrips {
    Trips quellan;
    Trips floor;

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
    quellan::test::writeFile(dir.file("input.bin"), "MZ");
    chooseFile(quellan, form, dir.file("input.bin"));

    // The floor: a bare window whose button runs the same kind of command
    // and viewer through the same launcher calls, from the same folder, so
    // that "notepad.exe" is found the same way.
    quellan::test::copyFile(folder + "\\bare_form.exe", dir.file("bare_form.exe"));
    Process bare = start(dir.file("bare_form.exe") + " --run \"" + interpreter +
                             " /C tdump -h floor\" \"notepad.exe floor.txt\"",
                         dir.path());
    WaitForInputIdle(bare.handle.get(), 20000);
    HWND bareForm = windowOf(bare.pid, "BareForm");

    const auto viewerStarts = [&] { return events(log, "start", "notepad"); };
    const auto viewerEnds = [&] { return events(log, "end", "notepad"); };

    // A click on a run button, timed to the interpreter's start and from
    // its end to the viewer's start. Each run begins once the last one's
    // processes have gone, and the benchmark keeps still while it is under
    // way: polling the log then would take the processor from the very
    // process starts being timed.
    const auto clickRun = [&](HWND button, Trips& trips) {
        Sleep(300);
        const std::size_t viewersBefore = viewerEnds().size();
        const double click = nowMicroseconds();
        PostMessageA(button, BM_CLICK, 0, 0);
        Sleep(800);
        waitFor([&] { return viewerEnds().size() > viewersBefore; });
        trips.clickToInterpreter.push_back(
            static_cast<double>(events(log, "start", "interp").back().timeMicroseconds) - click);
        trips.interpreterToViewer.push_back(
            static_cast<double>(viewerStarts().back().timeMicroseconds) -
            static_cast<double>(events(log, "end", "interp").back().timeMicroseconds));
    };

    RoundTrips result;
    for (int i = 0; i < runs; ++i) {
        // Alternated, so that neither always runs right after the other.
        if (i % 2 == 0) {
            clickRun(GetDlgItem(form, Button1), result.quellan);
            clickRun(GetDlgItem(bareForm, 1), result.floor);
        } else {
            clickRun(GetDlgItem(bareForm, 1), result.floor);
            clickRun(GetDlgItem(form, Button1), result.quellan);
        }
    }
    close(bare, bareForm);
    close(quellan, form);
    return result;
}

// The table of figures, tab-separated.
std::string benchmark(int rounds, int runs)
{
    const std::string folder = quellan::test::programFolder();
    const auto idle = [](HWND) { return true; };
    // Quellan is initialised once its first activation has filled in the
    // option captions.
    const auto captionsFilled = [](HWND form) {
        return text(GetDlgItem(form, radioButton(28))).rfind("-um", 0) == 0;
    };
    constexpr int plainChildren = 38; // as many child windows as Quellan has
    std::vector<StartUpSubject> subjects{
        {folder + "\\Quellan.exe", "TForm1", captionsFilled, {}, {}},
        {"C:\\windows\\notepad.exe", "Notepad", idle, {}, {}},
        {folder + "\\bare_form.exe 0", "BareForm", idle, {}, {}},
        {folder + "\\bare_form.exe " + std::to_string(plainChildren), "BareForm", idle, {}, {}},
        {folder + "\\bare_form.exe " + std::to_string(plainChildren) + " COMCTL32.DLL RICHED32.DLL",
         "BareForm",
         idle,
         {},
         {}},
    };
    const std::size_t reference = 1; // notepad
    const std::size_t floor = 4;     // the same windows and libraries, plain controls

    // A warm-up, then rounds with the order rotated; the footprints are
    // taken in the last round.
    for (StartUpSubject& subject : subjects) {
        timeStart(subject.command, subject.className, subject.initialised, nullptr);
    }
    std::vector<std::vector<double>> ratios(subjects.size());
    std::vector<double> overFloor;
    for (int round = 0; round < rounds; ++round) {
        const bool last = round + 1 == rounds;
        for (std::size_t k = 0; k < subjects.size(); ++k) {
            StartUpSubject& subject =
                subjects[(k + static_cast<std::size_t>(round)) % subjects.size()];
            subject.milliseconds.push_back(timeStart(subject.command, subject.className,
                                                     subject.initialised,
                                                     last ? &subject.footprint : nullptr) /
                                           1000);
        }
        for (std::size_t k = 0; k < subjects.size(); ++k) {
            ratios[k].push_back(subjects[k].milliseconds.back() /
                                subjects[reference].milliseconds.back());
        }
        overFloor.push_back(subjects[0].milliseconds.back() / subjects[floor].milliseconds.back());
    }
    const RoundTrips trips = measureRoundTrips(runs);

    std::ostringstream table;
    table.setf(std::ios::fixed);
    table.precision(1);
    const auto startUp = [&](std::size_t k, const char* label) {
        table << label << "\t" << median(subjects[k].milliseconds) << " ms\tnotepad "
              << median(subjects[reference].milliseconds) << " ms\tratio to notepad "
              << std::setprecision(2) << median(ratios[k]) << std::setprecision(1) << "\n";
    };
    table << "start-up to the idle window, medians of " << rounds << " rotated rounds\n";
    startUp(0, "  Quellan, initialised");
    startUp(2, "  the same two windows, no controls (bare_form.exe)");
    startUp(3, "  the same two windows, 38 plain option buttons");
    startUp(floor, "  the same, with the common controls and rich edit libraries loaded");
    table << "  Quellan against the last row, median of the rounds' ratios\t\t\t"
          << std::setprecision(2) << median(overFloor) << std::setprecision(1) << "\n";
    const Footprint& quellan = subjects[0].footprint;
    const Footprint& notepad = subjects[reference].footprint;
    table << "working set after start-up (KiB)\tQuellan " << quellan.workingSetKiB << "\tnotepad "
          << notepad.workingSetKiB << "\n";
    table << "private bytes after start-up (KiB)\tQuellan " << quellan.privateKiB << "\tnotepad "
          << notepad.privateKiB << "\n";
    const auto ms = [](double us) { return us / 1000; };
    table.precision(2);
    table << "click to interpreter start (ms, median of " << runs << ")\tQuellan "
          << ms(median(trips.quellan.clickToInterpreter)) << "\tfloor "
          << ms(median(trips.floor.clickToInterpreter)) << "\tQuellan's share "
          << ms(RoundTrips::share(trips.quellan.clickToInterpreter, trips.floor.clickToInterpreter))
          << "\n";
    table << "interpreter end to viewer start (ms, median of " << runs << ")\tQuellan "
          << ms(median(trips.quellan.interpreterToViewer)) << "\tfloor "
          << ms(median(trips.floor.interpreterToViewer)) << "\tQuellan's share "
          << ms(RoundTrips::share(trips.quellan.interpreterToViewer,
                                  trips.floor.interpreterToViewer))
          << "\n";
    return table.str();
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    if (__argc < 2) {
        return 2;
    }
    try {
        const std::string table = benchmark(__argc > 2 ? std::atoi(__argv[2]) : 10,
                                            __argc > 3 ? std::atoi(__argv[3]) : 50);
        std::ofstream(__argv[1]) << table;
        return 0;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "quellan_bench: %s\n", failure.what());
        return 2;
    }
}
