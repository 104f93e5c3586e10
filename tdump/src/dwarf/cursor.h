#pragma once

// Reads a DWARF section front to back: fixed-size fields, LEB128 numbers,
// strings and initial lengths, each checked against the end of the section.
// DWARF is read a byte at a time, so the cursor keeps a small window of the
// section in memory instead of going to the file for every field.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bytes.h"

namespace tdump::dwarf {

// A unit's or table's initial length: the length that follows, and whether
// the table is 32-bit DWARF (offsets of 4 bytes) or 64-bit (8 bytes).
struct InitialLength {
    std::uint64_t length = 0;
    unsigned offsetSize = 4;
};

class Cursor {
public:
    explicit Cursor(View view, std::uint64_t offset = 0) : view_(view), offset_(offset) {}

    const View& view() const { return view_; }
    std::uint64_t offset() const { return offset_; }
    // Where the next field is in the file, for reports.
    std::uint64_t fileOffset() const { return view_.base() + offset_; }
    bool atEnd() const { return offset_ >= view_.size(); }
    std::uint64_t remaining() const { return atEnd() ? 0 : view_.size() - offset_; }

    void seek(std::uint64_t offset) { offset_ = offset; }
    // Moves on count bytes; false (and at the end) when fewer are left.
    bool skip(std::uint64_t count);

    std::optional<std::uint8_t> u8();
    std::optional<std::uint16_t> u16() { return narrow<std::uint16_t>(fixed(2)); }
    std::optional<std::uint32_t> u32() { return narrow<std::uint32_t>(fixed(4)); }
    std::optional<std::uint64_t> u64() { return fixed(8); }
    // A little-endian field of 1 to 8 bytes.
    std::optional<std::uint64_t> fixed(unsigned size);
    // A field of the unit's offset size (4 or 8 bytes).
    std::optional<std::uint64_t> offsetField(unsigned offsetSize) { return fixed(offsetSize); }
    std::optional<std::uint64_t> uleb();
    std::optional<std::int64_t> sleb();
    // A NUL-terminated string of at most limit bytes; the cursor moves past
    // its NUL. nullopt when the section ends first.
    std::optional<std::string_view> string(std::size_t limit);
    // 0xFFFFFFFF then a 64-bit length, or a 32-bit length below 0xFFFFFFF0;
    // nullopt (with failure() saying why) for the reserved values.
    std::optional<InitialLength> initialLength();

    // Why the last read that failed did, for reports: "the section ends",
    // "an over-long LEB128", ...
    std::string_view failure() const { return failure_; }

private:
    static constexpr std::size_t windowSize = 4096;

    template <class T> static std::optional<T> narrow(std::optional<std::uint64_t> value)
    {
        if (!value) {
            return std::nullopt;
        }
        return static_cast<T>(*value);
    }
    // Makes the window hold [offset_, offset_ + count) if the section does;
    // count is at most windowSize.
    bool load(std::size_t count);
    const std::uint8_t* at() const { return window_.data() + (offset_ - windowStart_); }
    bool inWindow(std::size_t count) const
    {
        return offset_ >= windowStart_ && offset_ - windowStart_ + count <= windowLength_;
    }

    View view_;
    std::uint64_t offset_;
    std::array<std::uint8_t, windowSize> window_{};
    std::uint64_t windowStart_ = 0;
    std::size_t windowLength_ = 0;
    std::string stringBuffer_;
    std::string_view failure_;
};

} // namespace tdump::dwarf
