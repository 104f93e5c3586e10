#include "display/file_display.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "text.h"

namespace tdump {
namespace {

constexpr std::size_t bytesPerLine = 16;
constexpr std::size_t chunkSize = std::size_t{64} * 1024; // a multiple of bytesPerLine
static_assert(chunkSize % bytesPerLine == 0);

struct Tables {
    std::array<std::array<char, 2>, 256> hexPair{};
    // "XX  ": a byte's two digits and two blanks, stored four at a time.
    std::array<std::array<char, 4>, 256> hexBlanks{};
    std::array<char, 256> shown{};
    Tables()
    {
        static constexpr char digits[] = "0123456789ABCDEF";
        for (std::size_t i = 0; i < 256; ++i) {
            hexPair[i] = {digits[i >> 4], digits[i & 15]};
            hexBlanks[i] = {digits[i >> 4], digits[i & 15], ' ', ' '};
            shown[i] = i >= 0x20 && i < 0x7F ? static_cast<char>(i) : '.';
        }
    }
};

const Tables& tables()
{
    static const Tables instance;
    return instance;
}

int offsetDigits(std::uint64_t last)
{
    int digits = 8;
    while (digits < 16 && (last >> (4 * digits)) != 0) {
        ++digits;
    }
    return digits;
}

// digits is even: the offset is written a byte (two digits) at a time.
char* putOffset(char* p, std::uint64_t offset, int digits)
{
    const Tables& t = tables();
    for (int shift = 4 * (digits - 2); shift >= 0; shift -= 8) {
        const auto pair = t.hexPair[(offset >> shift) & 0xFF];
        *p++ = pair[0];
        *p++ = pair[1];
    }
    return p;
}

// The bytes and the text of a line of 16 bytes, and its line feed: every
// line but perhaps the last. Each byte's "XX " is stored with four bytes
// whose last is a blank, overwritten by the next byte's digits; the last of
// each half leaves the blank that follows it.
char* putFullLine(char* p, const std::uint8_t* bytes, const Tables& t)
{
    for (std::size_t half = 0; half < 2; ++half) {
        for (std::size_t i = 0; i < bytesPerLine / 2; ++i) {
            std::memcpy(p + 3 * i, t.hexBlanks[bytes[i]].data(), 4);
        }
        p += 3 * (bytesPerLine / 2) + 1;
        bytes += bytesPerLine / 2;
    }
    bytes -= bytesPerLine;
    for (std::size_t i = 0; i < bytesPerLine; ++i) {
        p[i] = t.shown[bytes[i]];
    }
    p[bytesPerLine] = '\n';
    return p + bytesPerLine + 1;
}

} // namespace

void hexDisplay(View view, std::uint64_t from, std::uint64_t to, Output& out)
{
    to = std::min(to, view.size());
    if (from >= to) {
        return;
    }
    const Tables& t = tables();
    int digits = offsetDigits(view.base() + to - 1);
    digits += digits % 2;
    // offset, 2 blanks, 16 x "XX ", 1 extra blank in the middle, 1 blank, 16 characters, newline
    const std::size_t lineLength =
        static_cast<std::size_t>(digits) + 2 + 3 * bytesPerLine + 1 + 1 + bytesPerLine + 1;
    std::vector<std::uint8_t> chunk(chunkSize);
    Reader& reader = view.reader();
    for (std::uint64_t at = from; at < to && !out.budget().exhausted();) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunkSize, to - at));
        const std::size_t got = reader.readSome(view.base() + at, std::span(chunk.data(), want));
        if (got == 0) {
            report(out, "the file could not be read further", view.base() + at);
            return;
        }
        const std::size_t lines = (got + bytesPerLine - 1) / bytesPerLine;
        char* p = out.reserve(lines * lineLength);
        char* const start = p;
        for (std::size_t line = 0; line < lines; ++line) {
            const std::uint8_t* bytes = chunk.data() + line * bytesPerLine;
            const std::size_t count = std::min(bytesPerLine, got - line * bytesPerLine);
            p = putOffset(p, view.base() + at + line * bytesPerLine, digits);
            *p++ = ' ';
            *p++ = ' ';
            if (count == bytesPerLine) {
                p = putFullLine(p, bytes, t);
                continue;
            }
            for (std::size_t i = 0; i < bytesPerLine; ++i) {
                if (i == bytesPerLine / 2) {
                    *p++ = ' ';
                }
                if (i < count) {
                    const auto pair = t.hexPair[bytes[i]];
                    p[0] = pair[0];
                    p[1] = pair[1];
                } else {
                    p[0] = ' ';
                    p[1] = ' ';
                }
                p[2] = ' ';
                p += 3;
            }
            *p++ = ' ';
            for (std::size_t i = 0; i < count; ++i) {
                *p++ = t.shown[bytes[i]];
            }
            *p++ = '\n';
        }
        out.commit(static_cast<std::size_t>(p - start));
        at += got;
    }
}

namespace {

// Collects one row of the text display at a time.
class TextRows {
public:
    TextRows(Output& out, int digits) : out_(out), digits_(digits) {}

    void start(std::uint64_t offset)
    {
        if (!open_) {
            open_ = true;
            rowOffset_ = offset;
            row_.clear();
        }
    }
    // Adds text for the bytes that begin at offset, wrapping first when the
    // row would get too wide (a double-byte character is never split).
    void add(std::uint64_t offset, std::string_view text)
    {
        if (open_ && row_.size() + text.size() > rowWidth) {
            end();
        }
        start(offset);
        row_ += text;
    }
    void end()
    {
        if (!open_) {
            return;
        }
        out_ << hex(rowOffset_, digits_) << "  " << row_ << '\n';
        open_ = false;
    }

private:
    static constexpr std::size_t rowWidth = 64;
    Output& out_;
    int digits_;
    bool open_ = false;
    std::uint64_t rowOffset_ = 0;
    std::string row_;
};

} // namespace

void textDisplay(View view, std::uint64_t from, TextBits bits, Output& out)
{
    const bool sevenBit = bits == TextBits::Seven;
    const std::uint64_t size = view.size();
    if (from >= size) {
        return;
    }
    TextRows rows(out, offsetDigits(view.base() + size - 1));
    std::vector<std::uint8_t> chunk(chunkSize);
    Reader& reader = view.reader();
    std::uint64_t skip = 0; // bytes already taken as the second half of a pair
    for (std::uint64_t at = from; at < size && !out.budget().exhausted();) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunkSize, size - at));
        const std::size_t got = reader.readSome(view.base() + at, std::span(chunk.data(), want));
        if (got == 0) {
            rows.end();
            report(out, "the file could not be read further", view.base() + at);
            return;
        }
        const auto byteAt = [&](std::uint64_t position) -> std::optional<std::uint8_t> {
            if (position >= at && position < at + got) {
                return chunk[static_cast<std::size_t>(position - at)];
            }
            return view.u8(position);
        };
        for (std::size_t i = 0; i < got; ++i) {
            const std::uint64_t position = at + i;
            if (skip > 0) {
                --skip;
                continue;
            }
            std::uint8_t b = chunk[i];
            if (sevenBit) {
                b &= 0x7F;
            }
            const std::uint64_t fileOffset = view.base() + position;
            if (b == '\n') {
                rows.start(fileOffset);
                rows.end();
                continue;
            }
            if (b == '\r') {
                const auto next = byteAt(position + 1);
                if (next && (sevenBit ? (*next & 0x7F) : *next) == '\n') {
                    continue;
                }
            }
            if (b >= 0x20 && b < 0x7F) {
                const char c = static_cast<char>(b);
                rows.add(fileOffset, std::string_view(&c, 1));
            } else if (b == '\t') {
                rows.add(fileOffset, " ");
            } else if (!sevenBit && cp932::isHalfWidthKana(b)) {
                const char c = static_cast<char>(b);
                rows.add(fileOffset, std::string_view(&c, 1));
            } else if (!sevenBit && cp932::isLeadByte(b)) {
                const auto trail = byteAt(position + 1);
                if (trail && cp932::isTrailByte(*trail)) {
                    const std::array<char, 2> pair{static_cast<char>(b), static_cast<char>(*trail)};
                    rows.add(fileOffset, std::string_view(pair.data(), 2));
                    skip = 1;
                } else {
                    rows.add(fileOffset, ".");
                }
            } else {
                rows.add(fileOffset, ".");
            }
        }
        at += got;
    }
    rows.end();
}

} // namespace tdump
