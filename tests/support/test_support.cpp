#include "test_support.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quellan::test {
namespace {

std::vector<std::string> splitTabs(const std::string& line, std::size_t maxPieces)
{
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (pieces.size() + 1 < maxPieces) {
        const std::size_t tab = line.find('\t', start);
        if (tab == std::string::npos) {
            break;
        }
        pieces.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
    pieces.push_back(line.substr(start));
    return pieces;
}

// The system handle list as ntdll returns it for class 16.
struct SystemHandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
};
struct SystemHandleInformation {
    ULONG count;
    SystemHandleEntry handles[1];
};
using NtQuerySystemInformationFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
constexpr ULONG systemHandleInformationClass = 16;
constexpr LONG statusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

// Controls of the open-file dialog, by the identifiers Windows gives them.
constexpr int fileNameCombo = 0x47C; // cmb13, explorer style
constexpr int fileNameEdit = 0x480;  // edt1, older dialogs

} // namespace

LRESULT sendOrThrow(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD timeoutMs)
{
    DWORD_PTR result = 0;
    if (SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, timeoutMs, &result) ==
        0) {
        throw std::runtime_error("window " + std::to_string(reinterpret_cast<UINT_PTR>(window)) +
                                 " did not answer message " + std::to_string(message) + " (error " +
                                 std::to_string(GetLastError()) + ")");
    }
    return static_cast<LRESULT>(result);
}

void postOrThrow(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (window == nullptr || !PostMessageA(window, message, wParam, lParam)) {
        throw std::runtime_error("cannot post message " + std::to_string(message));
    }
}

HWND OpenFileDialog::fileNameBox() const
{
    HWND box = GetDlgItem(window_, fileNameCombo);
    if (box == nullptr) {
        box = GetDlgItem(window_, fileNameEdit);
    }
    if (box == nullptr) {
        throw std::runtime_error("the open-file dialog has no file-name box");
    }
    return box;
}

void OpenFileDialog::typeFileName(const std::string& name) const
{
    sendOrThrow(fileNameBox(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
}

std::string OpenFileDialog::fileName() const
{
    char name[MAX_PATH] = {};
    sendOrThrow(fileNameBox(), WM_GETTEXT, MAX_PATH, reinterpret_cast<LPARAM>(name));
    return name;
}

void OpenFileDialog::browseTo(const std::string& folder) const
{
    typeFileName(folder);
    confirm();
    const ULONGLONG deadline = nowMs() + stepTimeoutMs;
    while (!fileName().empty()) {
        if (nowMs() >= deadline) {
            throw std::runtime_error("the open-file dialog did not open " + folder);
        }
        Sleep(20);
    }
}

void OpenFileDialog::confirm() const
{
    postOrThrow(GetDlgItem(window_, IDOK), BM_CLICK, 0, 0);
}

void OpenFileDialog::cancel() const
{
    postOrThrow(GetDlgItem(window_, IDCANCEL), BM_CLICK, 0, 0);
}

DWORD processHandleCount(DWORD pid)
{
    const auto query = reinterpret_cast<NtQuerySystemInformationFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) {
        return 0;
    }
    std::vector<unsigned char> buffer(1 << 16);
    LONG status = 0;
    for (int attempt = 0; attempt < 16; ++attempt) {
        ULONG needed = 0;
        status = query(systemHandleInformationClass, buffer.data(),
                       static_cast<ULONG>(buffer.size()), &needed);
        if (status != statusInfoLengthMismatch) {
            break;
        }
        buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed));
    }
    if (status != 0) {
        return 0;
    }
    const auto* info = reinterpret_cast<const SystemHandleInformation*>(buffer.data());
    DWORD count = 0;
    for (ULONG i = 0; i < info->count; ++i) {
        count += info->handles[i].ownerPid == pid ? 1 : 0;
    }
    return count;
}

// One entry of the GDI handle table; a used entry has a non-zero type.
struct GdiHandleEntry {
    ULONG64 object;
    ULONG owner;
    USHORT unique;
    UCHAR type;
    UCHAR flags;
    ULONG64 user;
};
static_assert(sizeof(GdiHandleEntry) == 24);
constexpr std::size_t gdiHandleCount = 0x10000;
constexpr std::size_t pebGdiSharedHandleTable = 0xF8; // offset in the 64-bit PEB

int gdiObjectCount(HANDLE process)
{
    using QueryFn = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    struct {
        PVOID reserved1;
        PVOID pebBaseAddress;
        PVOID reserved2[2];
        ULONG_PTR uniqueProcessId;
        PVOID reserved3;
    } basic{};
    if (query == nullptr || query(process, 0, &basic, sizeof basic, nullptr) != 0) {
        return -1;
    }
    ULONG64 table = 0;
    SIZE_T read = 0;
    const auto* pebTable = static_cast<const char*>(basic.pebBaseAddress) + pebGdiSharedHandleTable;
    if (!ReadProcessMemory(process, pebTable, &table, sizeof table, &read) || table == 0) {
        return -1;
    }
    std::vector<GdiHandleEntry> entries(gdiHandleCount);
    if (!ReadProcessMemory(process, reinterpret_cast<const void*>(table), entries.data(),
                           entries.size() * sizeof(GdiHandleEntry), &read)) {
        return -1;
    }
    return static_cast<int>(std::count_if(entries.begin(), entries.end(),
                                          [](const GdiHandleEntry& e) { return e.type != 0; }));
}

int windowCount(DWORD pid)
{
    struct Search {
        DWORD pid;
        int count;
    } search{pid, 0};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == s->pid) {
                ++s->count;
                EnumChildWindows(
                    window,
                    [](HWND, LPARAM inner) -> BOOL {
                        ++reinterpret_cast<Search*>(inner)->count;
                        return TRUE;
                    },
                    data);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.count;
}

ULONGLONG nowMs()
{
    LARGE_INTEGER frequency, count;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    return static_cast<ULONGLONG>(count.QuadPart / (frequency.QuadPart / 1000));
}

namespace {

void deleteTree(const std::string& folder)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..") {
                continue;
            }
            const std::string path = folder + "\\" + name;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                deleteTree(path);
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(folder.c_str());
}

} // namespace

TempDir::TempDir()
{
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    // Wine gives test processes run one after another the same small ids,
    // and a folder left by an interrupted run may hold the first name tried.
    static unsigned counter = 0;
    const std::string stem =
        std::string(base) + "quellan-test-" + std::to_string(GetCurrentProcessId()) + "-";
    for (int attempt = 0; attempt < 1000; ++attempt) {
        path_ = stem + std::to_string(++counter);
        if (CreateDirectoryA(path_.c_str(), nullptr)) {
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    throw std::runtime_error("cannot create a folder " + stem + "N");
}

TempDir::~TempDir()
{
    // A folder cannot go while a process still has it as its current
    // folder, and one that has just been ended may hold it a moment longer.
    const ULONGLONG deadline = nowMs() + 5000;
    for (;;) {
        deleteTree(path_);
        if (GetFileAttributesA(path_.c_str()) == INVALID_FILE_ATTRIBUTES || nowMs() >= deadline) {
            return;
        }
        Sleep(50);
    }
}

std::string TempDir::makeFolder(const std::string& name) const
{
    std::string path = path_;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = name.find('\\', start);
        path += '\\';
        path += name.substr(start, slash - start);
        if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            throw std::runtime_error("cannot create " + path);
        }
        if (slash == std::string::npos) {
            return path;
        }
        start = slash + 1;
    }
}

HWND findWindowOf(DWORD pid, const char* className, DWORD timeoutMs)
{
    const ULONGLONG deadline = nowMs() + timeoutMs;
    for (;;) {
        HWND window = nullptr;
        while ((window = FindWindowExA(nullptr, window, className, nullptr)) != nullptr) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == pid) {
                return window;
            }
        }
        if (nowMs() >= deadline) {
            return nullptr;
        }
        Sleep(20);
    }
}

std::string programFolder()
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string self(path, length);
    return self.substr(0, self.find_last_of('\\'));
}

std::vector<RecorderEvent> readRecorderLog(const std::string& path)
{
    std::vector<RecorderEvent> events;
    std::istringstream lines(readFile(path));
    std::string line;
    while (std::getline(lines, line)) { // NOLINT(bugprone-infinite-loop): getline advances
        const std::vector<std::string> f = splitTabs(line, 8);
        if (f.size() < 4) {
            continue;
        }
        RecorderEvent event;
        event.kind = f[0];
        event.role = f[1];
        event.pid = std::stoul(f[2]);
        event.timeMicroseconds = std::stoull(f[3]);
        if (f.size() == 8) {
            event.show = std::stoi(f[4]);
            event.directory = f[5];
            event.path = f[6];
            event.commandLine = f[7];
        }
        events.push_back(event);
    }
    return events;
}

std::vector<RecorderEvent> waitForRecorderEvents(const std::string& path, const std::string& kind,
                                                 std::size_t count, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        std::vector<RecorderEvent> matching;
        for (const RecorderEvent& event : readRecorderLog(path)) {
            if (event.kind == kind) {
                matching.push_back(event);
            }
        }
        if (matching.size() >= count || GetTickCount64() >= deadline) {
            return matching;
        }
        Sleep(20);
    }
}

namespace {

std::string versionString(const std::vector<char>& info, const char* name)
{
    char* value = nullptr;
    UINT length = 0;
    const std::string path = std::string("\\StringFileInfo\\041103a4\\") + name;
    if (!VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) ||
        length == 0) {
        return {};
    }
    return std::string(value, length - 1);
}

} // namespace

VersionInfo readVersionInfo(const std::string& program)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(program.c_str(), &ignored);
    std::vector<char> info(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoA(program.c_str(), 0, size, info.data()) ||
        !VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length) ||
        length < sizeof *fixed) {
        throw std::runtime_error("no version resource in " + program);
    }
    VersionInfo version;
    version.fileVersionMS = fixed->dwFileVersionMS;
    version.fileVersionLS = fixed->dwFileVersionLS;
    version.fileFlags = fixed->dwFileFlags & fixed->dwFileFlagsMask;
    version.fileVersion = versionString(info, "FileVersion");
    version.productVersion = versionString(info, "ProductVersion");
    version.originalFilename = versionString(info, "OriginalFilename");
    version.productName = versionString(info, "ProductName");
    return version;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

void writeFile(const std::string& path, const std::string& contents)
{
    std::ofstream out(path, std::ios::binary);
    out << contents;
}

void copyFile(const std::string& from, const std::string& to)
{
    if (!CopyFileA(from.c_str(), to.c_str(), FALSE)) {
        throw std::runtime_error("cannot copy " + from + " to " + to);
    }
}

} // namespace quellan::test
