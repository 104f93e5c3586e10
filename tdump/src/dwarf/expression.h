#pragma once

// DWARF expressions (DW_OP_*): locations in .debug_info and the location
// lists, and the expressions of call-frame instructions.

#include <cstdint>
#include <string>

#include "bytes.h"
#include "output.h"

namespace tdump::dwarf {

// What decoding an expression's operands depends on.
struct ExpressionShape {
    unsigned addressSize = 8;
    unsigned offsetSize = 4;   // 4: 32-bit DWARF, 8: 64-bit
    unsigned version = 4;      // of the unit or table holding the expression
    std::uint16_t machine = 0; // COFF machine, for register names
};

// The name DWARF's register number stands for on the machine ("RSP",
// "XMM3", "X29"), or "reg<number>" when it names none there.
std::string registerName(std::uint16_t machine, std::uint64_t number);

// Writes the operations of the expression in bytes on the current line,
// separated by ", " ("DW_OP_breg7 RSP+8, DW_OP_deref"); damage (an unknown
// operation, an operand past the end) is written where it is met, and the
// rest of the bytes are left undecoded.
void writeExpression(Output& out, View bytes, const ExpressionShape& shape);

} // namespace tdump::dwarf
