#pragma once

#include <string>

namespace tdump {

// Whether the two names lead to the same file: then writing the listing to
// the second would destroy the first. Names are opaque byte strings (code
// page 932 on Windows) and are never converted.
bool sameFile(const std::string& first, const std::string& second);

} // namespace tdump
