#include "dwarf/expression.h"

#include <array>

namespace tdump::dwarf {

std::string registerName(std::uint16_t, std::uint64_t number)
{
    return "reg" + std::to_string(number);
}

void writeExpression(Output& out, View bytes, const ExpressionShape&)
{
    std::array<std::uint8_t, 1> byte{};
    for (std::uint64_t i = 0; i < bytes.size() && bytes.read(i, byte); ++i) {
        out << (i == 0 ? "" : " ") << hex(byte[0], 2);
    }
}

} // namespace tdump::dwarf
