#pragma once

#include <stdexcept>
#include <string>

namespace quellan {

// The program's failure: a message text in code page 932 that the message
// loop shows to the user. Handlers never catch it.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

} // namespace quellan
