#pragma once

// The names of DWARF's numbered constants as .debug_info uses them: tags,
// attributes, forms and the enumerated values of some attributes. Names are
// given without their DW_TAG_, DW_AT_, ... prefix; an empty name means the
// number names nothing this program knows.

#include <cstdint>
#include <string_view>

namespace tdump::dwarf {

std::string_view tagName(std::uint64_t tag);
std::string_view attributeName(std::uint64_t attribute);
std::string_view formName(std::uint64_t form);
// A version 5 unit header's unit type ("compile", "type", ...).
std::string_view unitTypeName(std::uint64_t type);

// The name of value for the attributes whose values are enumerations
// (DW_AT_language, DW_AT_encoding, ...); empty for other attributes and
// unknown values.
std::string_view attributeValueName(std::uint64_t attribute, std::uint64_t value);

} // namespace tdump::dwarf
