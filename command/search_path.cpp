#include "search_path.h"

#include <algorithm>
#include <vector>

namespace quellan {
namespace {

// Where the last single-byte backslash of text starts; npos when none.
std::size_t lastBackslash(std::string_view text, const CodePage& names)
{
    std::size_t found = std::string_view::npos;
    for (std::size_t i = 0; i < text.size(); i += names.characterLength(text, i)) {
        if (text[i] == '\\') {
            found = i;
        }
    }
    return found;
}

// An entry as a folder name to compare: quotes dropped, one trailing
// backslash dropped (except after a drive), letters upper-cased.
std::string comparable(std::string_view entry, const CodePage& names)
{
    std::string folder;
    for (std::size_t i = 0; i < entry.size();) {
        const std::size_t length = names.characterLength(entry, i);
        if (length != 1 || entry[i] != '"') {
            folder.append(entry.substr(i, length));
        }
        i += length;
    }
    if (folder.size() > 1 && names.lastCharacter(folder) == "\\" &&
        folder[folder.size() - 2] != ':') {
        folder.pop_back();
    }
    return names.upperCaseSingleByte(folder);
}

// The entries of a search path. Separators inside double quotes belong to
// the entry, as the command interpreter reads them.
std::vector<std::string_view> entries(std::string_view path, const CodePage& names)
{
    std::vector<std::string_view> result;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < path.size(); i += names.characterLength(path, i)) {
        if (names.characterLength(path, i) != 1) {
            continue;
        }
        if (path[i] == '"') {
            quoted = !quoted;
        } else if (path[i] == ';' && !quoted) {
            result.push_back(path.substr(start, i - start));
            start = i + 1;
        }
    }
    result.push_back(path.substr(start));
    return result;
}

} // namespace

std::string parentFolder(std::string_view filePath, const CodePage& names)
{
    const std::size_t backslash = lastBackslash(filePath, names);
    if (backslash == std::string_view::npos) {
        return {};
    }
    const bool root = backslash > 0 && filePath[backslash - 1] == ':';
    return std::string(filePath.substr(0, root ? backslash + 1 : backslash));
}

std::optional<std::string> pathWithFolderAppended(std::string_view path, std::string_view folder,
                                                  const CodePage& names)
{
    if (folder.empty() || names.containsSingleByteOf(folder, "\"")) {
        return std::nullopt;
    }
    const std::string wanted = comparable(folder, names);
    const std::vector<std::string_view> existing = entries(path, names);
    if (std::any_of(existing.begin(), existing.end(),
                    [&](std::string_view entry) { return comparable(entry, names) == wanted; })) {
        return std::nullopt;
    }

    std::string extended(path);
    if (!extended.empty() && names.lastCharacter(extended) != ";") {
        extended += ';';
    }
    if (names.containsSingleByteOf(folder, ";")) {
        extended.append("\"").append(folder).append("\"");
    } else {
        extended.append(folder);
    }
    // The environment holds UTF-16: a code page 932 character of one or two
    // bytes is one unit there, so the limit counts characters, not bytes.
    if (names.characterCount(extended) > maxEnvironmentValueLength) {
        return std::nullopt;
    }
    return extended;
}

} // namespace quellan
