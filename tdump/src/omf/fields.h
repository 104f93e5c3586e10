#pragma once

// The fields of one OMF record, read from the front: the numbers, indexes
// and names the decoders take one after the other.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "omf/records.h"

namespace tdump::omf {

// Every read checks what is left, so a field cut short yields nullopt and
// never a byte past the end of the record.
class Fields {
public:
    explicit Fields(const Record& record)
        : bytes_(record.contents), base_(record.contentsOffset()), type_(record.type)
    {
    }

    // The record's type, and whether it is the 32-bit form.
    std::uint8_t type() const { return type_; }
    bool wide() const { return (type_ & 1) != 0; }

    bool done() const { return at_ >= bytes_.size(); }
    std::size_t left() const { return bytes_.size() - at_; }
    // The view offset of the next byte, for reports.
    std::uint64_t offset() const { return base_ + at_; }

    std::optional<std::uint8_t> u8();
    std::optional<std::uint16_t> u16();
    std::optional<std::uint32_t> u24();
    std::optional<std::uint32_t> u32();
    // An offset or a repeat count: 32 bits in the 32-bit forms of records.
    std::optional<std::uint32_t> word();
    // An index: one byte below 0x80, else two with the high bit of the first dropped.
    std::optional<std::uint16_t> index();
    // A name: its length in one byte, then its characters.
    std::optional<std::string> name();
    // A number of a communal definition: up to 0x80 in its byte, else in
    // the 2, 3 or 4 bytes its first byte announces. Sets badPrefix to a
    // first byte that announces none of them.
    std::optional<std::uint32_t> communalNumber(std::optional<std::uint8_t>& badPrefix);
    std::optional<std::span<const std::uint8_t>> take(std::size_t n);
    // Everything not read yet.
    std::span<const std::uint8_t> rest();

private:
    std::span<const std::uint8_t> bytes_;
    std::uint64_t base_;
    std::uint8_t type_;
    std::size_t at_ = 0;
};

} // namespace tdump::omf
