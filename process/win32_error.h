#pragma once

#include "exception.h"

#include <windows.h>

#include <string>

namespace quellan {

// A failed platform call: the message the user sees and the error code.
class EWin32Error : public Exception {
public:
    explicit EWin32Error(DWORD code);
    DWORD errorCode() const { return code_; }

private:
    DWORD code_;
};

// The system's text for an error code, without its trailing line break and
// full stop; empty when there is none or it does not fit 256 characters.
std::string systemErrorText(DWORD code);

// Removes every trailing byte from 0 to 32 and every trailing '.'.
std::string trimSystemErrorText(std::string text);

// "Win32 エラー。コード : <code>.\n<text>", or the generic text for code 0.
std::string win32ErrorMessage(DWORD code);

[[noreturn]] void raiseLastWin32Error();

} // namespace quellan
