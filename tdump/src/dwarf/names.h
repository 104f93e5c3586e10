#pragma once

// The names of DWARF's numbered constants as .debug_info uses them: tags,
// attributes, forms and the enumerated values of some attributes. Names are
// given without their DW_TAG_, DW_AT_, ... prefix; an empty name means the
// number names nothing this program knows.

#include <cstdint>
#include <string_view>

namespace tdump::dwarf {

// The forms (DW_FORM_*) the readers decode.
namespace form {
constexpr std::uint64_t addr = 0x01, block2 = 0x03, block4 = 0x04, data2 = 0x05, data4 = 0x06,
                        data8 = 0x07, string = 0x08, block = 0x09, block1 = 0x0A, data1 = 0x0B,
                        flag = 0x0C, sdata = 0x0D, strp = 0x0E, udata = 0x0F, refAddr = 0x10,
                        ref1 = 0x11, ref2 = 0x12, ref4 = 0x13, ref8 = 0x14, refUdata = 0x15,
                        indirect = 0x16, secOffset = 0x17, exprloc = 0x18, flagPresent = 0x19,
                        strx = 0x1A, addrx = 0x1B, refSup4 = 0x1C, strpSup = 0x1D, data16 = 0x1E,
                        lineStrp = 0x1F, refSig8 = 0x20, implicitConst = 0x21, loclistx = 0x22,
                        rnglistx = 0x23, refSup8 = 0x24, strx1 = 0x25, strx2 = 0x26, strx3 = 0x27,
                        strx4 = 0x28, addrx1 = 0x29, addrx2 = 0x2A, addrx3 = 0x2B, addrx4 = 0x2C,
                        gnuAddrIndex = 0x1F01, gnuStrIndex = 0x1F02, gnuRefAlt = 0x1F20,
                        gnuStrpAlt = 0x1F21;
} // namespace form

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
