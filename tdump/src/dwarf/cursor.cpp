#include "dwarf/cursor.h"

#include <algorithm>
#include <cstring>

namespace tdump::dwarf {
namespace {

constexpr std::string_view sectionEnds = "the section ends";
// 64 bits take ten groups of seven.
constexpr unsigned maxLebBytes = 10;
constexpr std::uint32_t dwarf64Escape = 0xFFFFFFFFu;
constexpr std::uint32_t firstReservedLength = 0xFFFFFFF0u;

} // namespace

bool Cursor::load(std::size_t count)
{
    if (inWindow(count)) {
        return true;
    }
    if (!view_.has(offset_, count)) {
        return false;
    }
    const std::size_t length =
        static_cast<std::size_t>(std::min<std::uint64_t>(window_.size(), view_.size() - offset_));
    if (!view_.read(offset_, std::span(window_.data(), length))) {
        windowLength_ = 0;
        return false;
    }
    windowStart_ = offset_;
    windowLength_ = length;
    return true;
}

bool Cursor::skip(std::uint64_t count)
{
    if (count > remaining()) {
        offset_ = view_.size();
        failure_ = sectionEnds;
        return false;
    }
    offset_ += count;
    return true;
}

std::optional<std::uint8_t> Cursor::u8()
{
    if (!load(1)) {
        failure_ = sectionEnds;
        return std::nullopt;
    }
    return window_[offset_++ - windowStart_];
}

std::optional<std::uint64_t> Cursor::fixed(unsigned size)
{
    if (size == 0 || size > 8 || !load(size)) {
        failure_ = sectionEnds;
        return std::nullopt;
    }
    const std::uint8_t* p = at();
    std::uint64_t value = 0;
    for (unsigned i = size; i-- > 0;) {
        value = value << 8 | p[i];
    }
    offset_ += size;
    return value;
}

std::optional<std::uint64_t> Cursor::uleb()
{
    std::uint64_t value = 0;
    for (unsigned i = 0; i < maxLebBytes; ++i) {
        const auto byte = u8();
        if (!byte) {
            return std::nullopt;
        }
        const std::uint64_t bits = *byte & 0x7Fu;
        // The tenth group holds bit 63 only.
        if (i == maxLebBytes - 1 && bits > 1) {
            failure_ = "an over-long LEB128";
            return std::nullopt;
        }
        value |= bits << (7 * i);
        if ((*byte & 0x80u) == 0) {
            return value;
        }
    }
    failure_ = "an over-long LEB128";
    return std::nullopt;
}

std::optional<std::int64_t> Cursor::sleb()
{
    std::uint64_t value = 0;
    for (unsigned i = 0; i < maxLebBytes; ++i) {
        const auto byte = u8();
        if (!byte) {
            return std::nullopt;
        }
        value |= std::uint64_t{*byte & 0x7Fu} << (7 * i);
        if ((*byte & 0x80u) == 0) {
            const unsigned used = 7 * (i + 1);
            if (used < 64 && (*byte & 0x40u) != 0) {
                value |= ~std::uint64_t{0} << used; // sign-extend
            }
            return static_cast<std::int64_t>(value);
        }
    }
    failure_ = "an over-long LEB128";
    return std::nullopt;
}

std::optional<std::string_view> Cursor::string(std::size_t limit)
{
    stringBuffer_.clear();
    while (true) {
        if (!load(1)) {
            failure_ = sectionEnds;
            return std::nullopt;
        }
        const std::uint8_t* begin = at();
        const std::size_t available = windowLength_ - (offset_ - windowStart_);
        const auto* nul = static_cast<const std::uint8_t*>(std::memchr(begin, 0, available));
        const std::size_t length =
            nul != nullptr ? static_cast<std::size_t>(nul - begin) : available;
        const std::size_t kept = std::min(length, limit - std::min(limit, stringBuffer_.size()));
        stringBuffer_.append(reinterpret_cast<const char*>(begin), kept);
        offset_ += length;
        if (nul != nullptr) {
            ++offset_;
            return stringBuffer_;
        }
    }
}

std::optional<InitialLength> Cursor::initialLength()
{
    const auto first = u32();
    if (!first) {
        return std::nullopt;
    }
    if (*first == dwarf64Escape) {
        const auto length = u64();
        if (!length) {
            return std::nullopt;
        }
        return InitialLength{*length, 8};
    }
    if (*first >= firstReservedLength) {
        failure_ = "a reserved initial length";
        return std::nullopt;
    }
    return InitialLength{*first, 4};
}

} // namespace tdump::dwarf
