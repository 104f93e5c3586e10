#include "dump_tool_folder.h"

#include "search_path.h"
#include "system_code_page.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>

namespace quellan {
namespace {

constexpr char dumpToolFileName[] = "tdump.exe";

// A path has at most 32,767 characters, each at most two bytes here.
constexpr std::size_t longestPathBytes = 2 * 32767 + 1;

// The program's own path, or nothing when the system cannot give it whole:
// a path cut short at the buffer's end would name another folder.
std::optional<std::string> programPath()
{
    // A path may be longer than MAX_PATH.
    std::string buffer(MAX_PATH, '\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return std::nullopt;
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        if (buffer.size() >= longestPathBytes) {
            return std::nullopt;
        }
        buffer.resize(std::min(buffer.size() * 2, longestPathBytes));
    }
}

// A variable's value; empty when it is unset, nothing when it cannot be read.
std::optional<std::string> environmentValue(const char* name)
{
    const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
            return std::string();
        }
        return std::nullopt;
    }
    std::string value(size, '\0');
    const DWORD length = GetEnvironmentVariableA(name, value.data(), size);
    if (length >= size) {
        return std::nullopt;
    }
    value.resize(length);
    return value;
}

bool isFile(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace

bool addDumpToolFolderToPath()
{
    const std::optional<std::string> program = programPath();
    if (!program) {
        return false;
    }
    const CodePage names = systemCodePage();
    const std::string folder = parentFolder(*program, names);
    if (folder.empty()) {
        return false;
    }
    const std::string separator = names.lastCharacter(folder) == "\\" ? "" : "\\";
    if (!isFile(folder + separator + dumpToolFileName)) {
        return false;
    }
    const std::optional<std::string> path = environmentValue("PATH");
    if (!path) {
        return false;
    }
    const std::optional<std::string> extended = pathWithFolderAppended(*path, folder, names);
    return extended && SetEnvironmentVariableA("PATH", extended->c_str()) != FALSE;
}

} // namespace quellan
