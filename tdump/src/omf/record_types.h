#pragma once

// The OMF record types by code and by name, as listings show them and -oi
// and -ox choose them. Nothing here needs the rest of tdump: the option
// parser checks record names with it, the readers decode by its codes.

#include <cstdint>
#include <string>
#include <string_view>

namespace tdump {

namespace omf::recordType {
// The record types the readers decode or look for; the 32-bit form of a
// type is the odd one.
constexpr std::uint8_t theadr = 0x80;
constexpr std::uint8_t lheadr = 0x82;
constexpr std::uint8_t coment = 0x88;
constexpr std::uint8_t modend = 0x8A;
constexpr std::uint8_t modend32 = 0x8B;
constexpr std::uint8_t extdef = 0x8C;
constexpr std::uint8_t pubdef = 0x90;
constexpr std::uint8_t pubdef32 = 0x91;
constexpr std::uint8_t linnum = 0x94;
constexpr std::uint8_t linnum32 = 0x95;
constexpr std::uint8_t lnames = 0x96;
constexpr std::uint8_t segdef = 0x98;
constexpr std::uint8_t segdef32 = 0x99;
constexpr std::uint8_t grpdef = 0x9A;
constexpr std::uint8_t fixupp = 0x9C;
constexpr std::uint8_t fixupp32 = 0x9D;
constexpr std::uint8_t ledata = 0xA0;
constexpr std::uint8_t ledata32 = 0xA1;
constexpr std::uint8_t lidata = 0xA2;
constexpr std::uint8_t lidata32 = 0xA3;
constexpr std::uint8_t comdef = 0xB0;
constexpr std::uint8_t bakpat = 0xB2;
constexpr std::uint8_t bakpat32 = 0xB3;
constexpr std::uint8_t lextdef = 0xB4;
constexpr std::uint8_t lextdef32 = 0xB5;
constexpr std::uint8_t lpubdef = 0xB6;
constexpr std::uint8_t lpubdef32 = 0xB7;
constexpr std::uint8_t lcomdef = 0xB8;
constexpr std::uint8_t cextdef = 0xBC;
constexpr std::uint8_t comdat = 0xC2;
constexpr std::uint8_t comdat32 = 0xC3;
constexpr std::uint8_t linsym = 0xC4;
constexpr std::uint8_t linsym32 = 0xC5;
constexpr std::uint8_t alias = 0xC6;
constexpr std::uint8_t nbkpat = 0xC8;
constexpr std::uint8_t nbkpat32 = 0xC9;
constexpr std::uint8_t llnames = 0xCA;
constexpr std::uint8_t vernum = 0xCC;
constexpr std::uint8_t vendext = 0xCE;
constexpr std::uint8_t libraryHeader = 0xF0;
constexpr std::uint8_t libraryEnd = 0xF1;
} // namespace omf::recordType

// The name of a record type: "PUBDEF", and "PUBDEF32" for its 32-bit form;
// empty for a type that has none.
std::string_view omfRecordName(std::uint8_t type);

// The name both forms of a record type answer to: "PUBDEF" for 90 and 91.
std::string_view omfRecordFamily(std::uint8_t type);

// Whether some record type answers to this name (upper case).
bool isOmfRecordName(std::string_view name);

// Every name, separated by blanks, for -oi?.
std::string omfRecordNames();

// Whether a record of this type may occur in an OMF file: -o reads a file
// recognised as nothing else as OMF when its first byte is one.
bool isOmfRecordType(std::uint8_t type);

} // namespace tdump
