#include "omf/fields.h"

namespace tdump::omf {
namespace {

// The first byte of a communal number: the number itself up to this, else
// the prefix of a longer one.
constexpr std::uint8_t numberInByte = 0x80;
constexpr std::uint8_t number16 = 0x81;
constexpr std::uint8_t number24 = 0x84;
constexpr std::uint8_t number32 = 0x88;

} // namespace

std::optional<std::uint8_t> Fields::u8()
{
    if (left() < 1) {
        return std::nullopt;
    }
    return bytes_[at_++];
}

std::optional<std::uint16_t> Fields::u16()
{
    if (left() < 2) {
        return std::nullopt;
    }
    at_ += 2;
    return le16(&bytes_[at_ - 2]);
}

std::optional<std::uint32_t> Fields::u24()
{
    if (left() < 3) {
        return std::nullopt;
    }
    at_ += 3;
    return static_cast<std::uint32_t>(bytes_[at_ - 3] | (bytes_[at_ - 2] << 8) |
                                      (bytes_[at_ - 1] << 16));
}

std::optional<std::uint32_t> Fields::u32()
{
    if (left() < 4) {
        return std::nullopt;
    }
    at_ += 4;
    return le32(&bytes_[at_ - 4]);
}

std::optional<std::uint32_t> Fields::word()
{
    if (wide()) {
        return u32();
    }
    const auto value = u16();
    return value ? std::optional<std::uint32_t>(*value) : std::nullopt;
}

std::optional<std::uint16_t> Fields::index()
{
    const auto first = u8();
    if (!first || *first < 0x80) {
        return first;
    }
    const auto second = u8();
    if (!second) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(((*first & 0x7Fu) << 8) | *second);
}

std::optional<std::string> Fields::name()
{
    const std::size_t start = at_;
    const auto length = u8();
    const auto text = length ? take(*length) : std::nullopt;
    if (!text) {
        at_ = start;
        return std::nullopt;
    }
    return std::string(text->begin(), text->end());
}

std::optional<std::uint32_t> Fields::communalNumber(std::optional<std::uint8_t>& badPrefix)
{
    const auto first = u8();
    if (!first || *first <= numberInByte) {
        return first;
    }
    switch (*first) {
    case number16: {
        const auto v = u16();
        return v ? std::optional<std::uint32_t>(*v) : std::nullopt;
    }
    case number24:
        return u24();
    case number32:
        return u32();
    default:
        badPrefix = first;
        return std::nullopt;
    }
}

std::optional<std::span<const std::uint8_t>> Fields::take(std::size_t n)
{
    if (left() < n) {
        return std::nullopt;
    }
    at_ += n;
    return bytes_.subspan(at_ - n, n);
}

std::span<const std::uint8_t> Fields::rest()
{
    const auto all = bytes_.subspan(at_);
    at_ = bytes_.size();
    return all;
}

} // namespace tdump::omf
