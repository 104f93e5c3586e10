#pragma once

// Byte-level helpers for narrow strings in code page 932 (Shift_JIS with the
// Windows extensions). A double-byte character is a lead byte followed by a
// trail byte; trail bytes overlap ASCII (0x40..0x7E), so a byte that looks
// like '\\', '|' or 'a' may be the second half of a kanji and must never be
// treated as a character of its own.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quellan::cp932 {

constexpr bool isLeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

constexpr bool isTrailByte(unsigned char byte)
{
    return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFC);
}

// Length in bytes (1 or 2) of the character that starts at text[index]. A
// lead byte counts as one when no valid trail byte follows it (at the very
// end, or before a byte such as '&' or '"'): Windows then reads the next
// byte as a character of its own, and so must every check here.
std::size_t characterLength(std::string_view text, std::size_t index);

// The number of characters in text, a double-byte character counting once.
std::size_t characterCount(std::string_view text);

// The last character of text (one or two bytes); empty for an empty text.
std::string_view lastCharacter(std::string_view text);

// Upper-cases the single-byte letters a..z; double-byte characters are
// copied whole, whatever their trail byte.
std::string upperCaseSingleByte(std::string_view text);

// Whether any single-byte character of text is one of chars.
bool containsSingleByteOf(std::string_view text, std::string_view chars);

// Splits text at every single-byte separator; a separator byte that is the
// trail byte of a double-byte character does not split.
std::vector<std::string> split(std::string_view text, char separator);

} // namespace quellan::cp932
