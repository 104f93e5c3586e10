#include "win32_error.h"

#include <array>

namespace quellan {

EWin32Error::EWin32Error(DWORD code) : Exception(win32ErrorMessage(code)), code_(code) {}

std::string trimSystemErrorText(std::string text)
{
    // Neither a byte up to 32 nor '.' can be the trail byte of a double-byte
    // character, so trimming byte by byte never splits one.
    while (!text.empty()) {
        const auto last = static_cast<unsigned char>(text.back());
        if (last > 32 && last != '.') {
            break;
        }
        text.pop_back();
    }
    return text;
}

std::string systemErrorText(DWORD code)
{
    std::array<char, 256> buffer{};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                       buffer.data(), static_cast<DWORD>(buffer.size()), nullptr);
    return trimSystemErrorText(std::string(buffer.data(), length));
}

std::string win32ErrorMessage(DWORD code)
{
    if (code == 0) {
        return "Win32 API 呼び出しに失敗しました";
    }
    return "Win32 エラー。コード : " + std::to_string(code) + ".\n" + systemErrorText(code);
}

void raiseLastWin32Error()
{
    throw EWin32Error(GetLastError());
}

} // namespace quellan
