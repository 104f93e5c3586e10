#pragma once

// The program search path (PATH) as text: its entries and the folders they
// name. Platform-free: the environment itself is read and written elsewhere.

#include "code_page.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quellan {

// The most characters an environment variable's value can hold (32,767 with
// its terminating null).
inline constexpr std::size_t maxEnvironmentValueLength = 32766;

// The folder part of a file path: everything before its last backslash, or
// up to and including it when that is the root ("C:\"). A double-byte
// character of the code page names whose second byte is 0x5C ("ソ", "表" in
// code page 932) is not a backslash. Empty when the path holds no backslash.
std::string parentFolder(std::string_view filePath, const CodePage& names);

// path with folder added as its last entry, so that a program found nowhere
// else is found there while every earlier entry still comes first. A folder
// holding ';' is written in double quotes, which the command interpreter
// reads as one entry. nullopt when path already names folder (letters
// compared without regard to case, quotes and a trailing backslash aside),
// when folder holds a double quote or is empty, or when the result would be
// longer than an environment variable can hold.
std::optional<std::string> pathWithFolderAppended(std::string_view path, std::string_view folder,
                                                  const CodePage& names);

} // namespace quellan
