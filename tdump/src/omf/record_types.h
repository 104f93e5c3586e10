#pragma once

// The OMF record types by name, as listings show them and -oi and -ox
// choose them.

#include <cstdint>
#include <string>
#include <string_view>

namespace tdump {

// The name of a record type: "PUBDEF", and "PUBDEF32" for its 32-bit form;
// empty for a type that has none.
std::string_view omfRecordName(std::uint8_t type);

// The name both forms of a record type answer to: "PUBDEF" for 90 and 91.
std::string_view omfRecordFamily(std::uint8_t type);

// Whether some record type answers to this name (upper case).
bool isOmfRecordName(std::string_view name);

// Every name, separated by blanks, for -oi?.
std::string omfRecordNames();

} // namespace tdump
