#pragma once

// Displays of the file's bytes as they are, whatever its type: hexadecimal
// (-h, and raw section contents) and text (-a, -a7).

#include "bytes.h"
#include "output.h"

#include <cstdint>

namespace tdump {

// Lines of 16 bytes from [from, to) of the view: file offset, the bytes in
// hexadecimal, the bytes as characters.
void hexDisplay(View view, std::uint64_t from, std::uint64_t to, Output& out);

// The bytes as text, one row per line of the file (long lines wrap), each
// row headed by its file offset. Control bytes show as '.'. With seven bits
// the high bit of every byte is dropped first; with eight, whole code page 932
// characters are kept, so Japanese text reads as text in the listing.
enum class TextBits { Eight, Seven };
void textDisplay(View view, std::uint64_t from, TextBits bits, Output& out);

} // namespace tdump
