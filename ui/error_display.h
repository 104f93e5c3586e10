#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace quellan {

// Shows a failure that left an event handler: a stop-icon box with one OK
// button, captioned with the application's title, while the application's
// other windows are disabled.
class ErrorDisplay {
public:
    ErrorDisplay(HWND owner, std::string title) : owner_(owner), title_(std::move(title)) {}

    void show(std::string_view message) const;

    // Appends "." unless the message is empty or its last character (taken
    // whole when double-byte) sorts at or before ".".
    static std::string withFullStop(std::string message);

private:
    HWND owner_;
    std::string title_;
};

} // namespace quellan
