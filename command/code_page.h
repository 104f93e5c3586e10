#pragma once

// Byte-level helpers for narrow strings in an ANSI code page. In a
// double-byte code page such as 932 (Shift_JIS with the Windows extensions)
// a character is a lead byte followed by a trail byte, and trail bytes
// overlap ASCII (0x40..0x7E): a byte that looks like '\\', '|' or 'a' may be
// the second half of a kanji and must never be treated as a character of its
// own. Which bytes lead depends on the code page: 0xE9 begins a character in
// 932 and is "é" in 1252. The program's own texts are in 932; file names are
// in whatever code page the system runs, whose lead bytes the platform layer
// reads and hands in.

#include <bitset>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quellan {

class CodePage {
public:
    using LeadBytes = std::bitset<256>;

    // Code page 932, the code page of the program's own texts.
    static const CodePage& cp932();

    // A code page by its lead bytes; a single-byte code page has none.
    explicit CodePage(const LeadBytes& leadBytes) : leadBytes_(leadBytes) {}

    bool isLeadByte(unsigned char byte) const { return leadBytes_[byte]; }

    // The bytes that can follow a lead byte in the double-byte code pages of
    // Windows (932, 936, 949, 950): never a control character, a blank, a
    // digit or any of the punctuation up to '?'.
    static constexpr bool isTrailByte(unsigned char byte)
    {
        return byte >= 0x40 && byte <= 0xFE && byte != 0x7F;
    }

    // Length in bytes (1 or 2) of the character that starts at text[index].
    // A lead byte counts as one when no trail byte follows it (at the very
    // end, or before a byte such as '&' or '"'): Windows then reads the next
    // byte as a character of its own, and so must every check here.
    std::size_t characterLength(std::string_view text, std::size_t index) const;

    // The number of characters in text, a double-byte character counting once.
    std::size_t characterCount(std::string_view text) const;

    // The last character of text (one or two bytes); empty for an empty text.
    std::string_view lastCharacter(std::string_view text) const;

    // Upper-cases the single-byte letters a..z; double-byte characters are
    // copied whole, whatever their trail byte.
    std::string upperCaseSingleByte(std::string_view text) const;

    // Whether any single-byte character of text is one of chars.
    bool containsSingleByteOf(std::string_view text, std::string_view chars) const;

    // Splits text at every single-byte separator; a separator byte that is the
    // trail byte of a double-byte character does not split.
    std::vector<std::string> split(std::string_view text, char separator) const;

private:
    LeadBytes leadBytes_;
};

} // namespace quellan
