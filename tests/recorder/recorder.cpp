// Stands in for the command interpreter, the viewer and the dump tool in
// tests. Each start appends to the log named by QUELLAN_RECORDER_LOG (or
// recorder.log beside the program) one line
//   start <TAB> role <TAB> pid <TAB> time <TAB> show <TAB> cwd <TAB> PATH <TAB> command line
// and, when it ends, one line
//   end <TAB> role <TAB> pid <TAB> time
// role is the program's own file name without ".exe", time is in
// microseconds since 1601, show is the start-up show state or -1 when none
// was given. QUELLAN_RECORDER_SLEEP_MS makes it wait before it ends.
// Started as "tdump", it also writes the arguments it received, one per
// line, into the list file (its third argument), as a dump tool would.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string environment(const char* name)
{
    char value[32768]; // the largest value a variable can hold
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

std::string moduleFileName()
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length);
}

std::string role()
{
    std::string name = moduleFileName();
    name = name.substr(name.find_last_of("\\/") + 1);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

unsigned long long nowMicroseconds()
{
    FILETIME time;
    GetSystemTimePreciseAsFileTime(&time);
    return ((static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 10;
}

// One WriteFile per line with append access, so the lines of concurrent
// recorders never interleave. Opening the log can fail for a moment while
// another process holds it (a test reading it, a recorder creating it): a
// lost line would read as a program that never ran, so it is tried again
// for up to two seconds.
void appendLine(const std::string& path, const std::string& line)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        if (attempt > 0) {
            Sleep(20);
        }
        file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

void writeArgumentsAsListing(int argc, char** argv)
{
    if (argc < 4) {
        return;
    }
    FILE* list = std::fopen(argv[3], "wb");
    if (list == nullptr) {
        return;
    }
    std::fprintf(list, "argc=%d\r\n", argc - 1);
    for (int i = 1; i < argc; ++i) {
        std::fprintf(list, "argv[%d]=%s\r\n", i, argv[i]);
    }
    std::fclose(list);
}

} // namespace

int main(int argc, char** argv)
{
    const unsigned long long started = nowMicroseconds();
    std::string log = environment("QUELLAN_RECORDER_LOG");
    if (log.empty()) {
        const std::string self = moduleFileName();
        log = self.substr(0, self.find_last_of('\\') + 1) + "recorder.log";
    }

    STARTUPINFOA startup{};
    GetStartupInfoA(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : -1;
    char directory[MAX_PATH];
    const DWORD directoryLength = GetCurrentDirectoryA(MAX_PATH, directory);
    const std::string pid = std::to_string(GetCurrentProcessId());

    appendLine(log, "start\t" + role() + "\t" + pid + "\t" + std::to_string(started) + "\t" +
                        std::to_string(show) + "\t" + std::string(directory, directoryLength) +
                        "\t" + environment("PATH") + "\t" + GetCommandLineA());

    if (role() == "tdump") {
        writeArgumentsAsListing(argc, argv);
    }
    const std::string sleep = environment("QUELLAN_RECORDER_SLEEP_MS");
    if (!sleep.empty()) {
        Sleep(static_cast<DWORD>(std::strtoul(sleep.c_str(), nullptr, 10)));
    }
    appendLine(log, "end\t" + role() + "\t" + pid + "\t" + std::to_string(nowMicroseconds()));
    return 0;
}
