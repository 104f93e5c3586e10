#pragma once

// Text helpers the listing and the command line share: upper-casing and the
// code page 932 character rule.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tdump {

// The text with its ASCII letters upper-cased; every other byte as it is.
std::string upperCase(std::string_view text);

// Code page 932 (Shift JIS), as Japanese Windows stores names and text.
namespace cp932 {

constexpr bool isLeadByte(std::uint8_t b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

constexpr bool isTrailByte(std::uint8_t b)
{
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

constexpr bool isHalfWidthKana(std::uint8_t b)
{
    return b >= 0xA1 && b <= 0xDF;
}

// Whether the bytes at text[at] start a double-byte character: a lead byte
// with a trail byte after it. A lead byte alone stands for itself.
constexpr bool startsDoubleByte(std::string_view text, std::size_t at)
{
    return at + 1 < text.size() && isLeadByte(static_cast<std::uint8_t>(text[at])) &&
           isTrailByte(static_cast<std::uint8_t>(text[at + 1]));
}

} // namespace cp932

} // namespace tdump
