#pragma once

// C++ name demangling: the Itanium scheme that GCC and MinGW use (_Z...) and
// the Microsoft one (?...). Anything this code does not fully understand is
// left as it was rather than shown half-decoded.

#include <optional>
#include <string>
#include <string_view>

namespace tdump {

// The demangled form of an Itanium name ("_Z..."), or nullopt.
std::optional<std::string> demangleItanium(std::string_view name);
// The demangled form of a Microsoft name ("?..."), or nullopt.
std::optional<std::string> demangleMicrosoft(std::string_view name);
// Either scheme, chosen by the name's first characters.
std::optional<std::string> demangle(std::string_view name);

// A symbol name as a listing shows it: demangled when wanted and possible,
// keeping the import prefix ("__imp_") and the extra leading underscore that
// 32-bit x86 names carry ("__Z...").
std::string displayName(std::string_view name, bool wantDemangled);

} // namespace tdump
