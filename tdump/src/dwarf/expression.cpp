#include "dwarf/expression.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <string_view>

#include "coff/coff.h"
#include "dwarf/cursor.h"

namespace tdump::dwarf {
namespace {

// Consecutive register numbers the ABI gives one family ("XMM0" to "XMM15",
// the first named with firstIndex), or a single register with a name of its
// own.
struct RegisterRange {
    std::uint16_t first;
    std::uint16_t count;
    std::string_view name;
    bool indexed;
    std::uint16_t firstIndex;
};

constexpr RegisterRange single(std::uint16_t number, std::string_view name)
{
    return {number, 1, name, false, 0};
}

constexpr RegisterRange family(std::uint16_t first, std::uint16_t count, std::string_view name,
                               std::uint16_t firstIndex = 0)
{
    return {first, count, name, true, firstIndex};
}

// The numbers of the System V x86-64 psABI, which MinGW-w64's GCC and clang
// also use for Windows.
constexpr auto amd64Registers = std::to_array<RegisterRange>({
    single(0, "RAX"),      single(1, "RDX"),          single(2, "RCX"),      single(3, "RBX"),
    single(4, "RSI"),      single(5, "RDI"),          single(6, "RBP"),      single(7, "RSP"),
    family(8, 8, "R", 8),  single(16, "RIP"),         family(17, 16, "XMM"), family(33, 8, "ST"),
    family(41, 8, "MM"),   single(49, "RFLAGS"),      single(50, "ES"),      single(51, "CS"),
    single(52, "SS"),      single(53, "DS"),          single(54, "FS"),      single(55, "GS"),
    single(58, "FS_BASE"), single(59, "GS_BASE"),     single(64, "MXCSR"),   single(65, "FCW"),
    single(66, "FSW"),     family(67, 16, "XMM", 16), family(118, 8, "K"),
});

// The i386 System V numbers (ESP 4, EBP 5).
constexpr auto i386Registers = std::to_array<RegisterRange>({
    single(0, "EAX"),    single(1, "ECX"),    single(2, "EDX"),    single(3, "EBX"),
    single(4, "ESP"),    single(5, "EBP"),    single(6, "ESI"),    single(7, "EDI"),
    single(8, "EIP"),    single(9, "EFLAGS"), family(11, 8, "ST"), family(21, 8, "XMM"),
    family(29, 8, "MM"), single(39, "MXCSR"), single(40, "ES"),    single(41, "CS"),
    single(42, "SS"),    single(43, "DS"),    single(44, "FS"),    single(45, "GS"),
    family(93, 8, "K"),
});

constexpr auto arm64Registers = std::to_array<RegisterRange>({
    family(0, 31, "X"),
    single(31, "SP"),
    family(64, 32, "V"),
});

constexpr auto armRegisters = std::to_array<RegisterRange>({
    family(0, 13, "R"),
    single(13, "SP"),
    single(14, "LR"),
    single(15, "PC"),
    family(256, 32, "D"),
});

std::span<const RegisterRange> registersOf(std::uint16_t machine)
{
    switch (machine) {
    case machineAmd64:
        return amd64Registers;
    case machineI386:
        return i386Registers;
    case machineArm64:
        return arm64Registers;
    case machineArmNt:
        return armRegisters;
    default:
        return {};
    }
}

// How the operands of an operation are encoded.
enum class Operands : std::uint8_t {
    none,
    address, // of the target's address size
    u1,
    s1,
    u2,
    s2,
    u4,
    s4,
    u8,
    s8,
    uleb,
    sleb,
    reference,       // a .debug_info offset: offset size (address size in DWARF 2)
    branch,          // a 2-byte signed distance from the next operation
    regx,            // a register number
    bregx,           // a register number and a signed offset
    bitPiece,        // size and offset in bits
    block,           // a length and that many bytes
    expression,      // a length and an expression of that many bytes
    implicitPointer, // a .debug_info reference and a signed offset
    typedConstant,   // a type's unit offset, a 1-byte size and that many bytes
    registerType,    // a register number and a type's unit offset
    sizedType,       // a 1-byte size and a type's unit offset
    encodedAddress,  // a DW_EH_PE encoding byte and a value so encoded
};

struct Operation {
    std::string_view name;
    Operands operands = Operands::none;
};

// Every operation of DWARF 2 to 5 and the GNU ones GCC writes, by code;
// lit, reg and breg (0x30 to 0x8F) are named from their number instead.
constexpr std::array<Operation, 256> operations = [] {
    std::array<Operation, 256> t{};
    t[0x03] = {"DW_OP_addr", Operands::address};
    t[0x06] = {"DW_OP_deref"};
    t[0x08] = {"DW_OP_const1u", Operands::u1};
    t[0x09] = {"DW_OP_const1s", Operands::s1};
    t[0x0A] = {"DW_OP_const2u", Operands::u2};
    t[0x0B] = {"DW_OP_const2s", Operands::s2};
    t[0x0C] = {"DW_OP_const4u", Operands::u4};
    t[0x0D] = {"DW_OP_const4s", Operands::s4};
    t[0x0E] = {"DW_OP_const8u", Operands::u8};
    t[0x0F] = {"DW_OP_const8s", Operands::s8};
    t[0x10] = {"DW_OP_constu", Operands::uleb};
    t[0x11] = {"DW_OP_consts", Operands::sleb};
    t[0x12] = {"DW_OP_dup"};
    t[0x13] = {"DW_OP_drop"};
    t[0x14] = {"DW_OP_over"};
    t[0x15] = {"DW_OP_pick", Operands::u1};
    t[0x16] = {"DW_OP_swap"};
    t[0x17] = {"DW_OP_rot"};
    t[0x18] = {"DW_OP_xderef"};
    t[0x19] = {"DW_OP_abs"};
    t[0x1A] = {"DW_OP_and"};
    t[0x1B] = {"DW_OP_div"};
    t[0x1C] = {"DW_OP_minus"};
    t[0x1D] = {"DW_OP_mod"};
    t[0x1E] = {"DW_OP_mul"};
    t[0x1F] = {"DW_OP_neg"};
    t[0x20] = {"DW_OP_not"};
    t[0x21] = {"DW_OP_or"};
    t[0x22] = {"DW_OP_plus"};
    t[0x23] = {"DW_OP_plus_uconst", Operands::uleb};
    t[0x24] = {"DW_OP_shl"};
    t[0x25] = {"DW_OP_shr"};
    t[0x26] = {"DW_OP_shra"};
    t[0x27] = {"DW_OP_xor"};
    t[0x28] = {"DW_OP_bra", Operands::branch};
    t[0x29] = {"DW_OP_eq"};
    t[0x2A] = {"DW_OP_ge"};
    t[0x2B] = {"DW_OP_gt"};
    t[0x2C] = {"DW_OP_le"};
    t[0x2D] = {"DW_OP_lt"};
    t[0x2E] = {"DW_OP_ne"};
    t[0x2F] = {"DW_OP_skip", Operands::branch};
    t[0x90] = {"DW_OP_regx", Operands::regx};
    t[0x91] = {"DW_OP_fbreg", Operands::sleb};
    t[0x92] = {"DW_OP_bregx", Operands::bregx};
    t[0x93] = {"DW_OP_piece", Operands::uleb};
    t[0x94] = {"DW_OP_deref_size", Operands::u1};
    t[0x95] = {"DW_OP_xderef_size", Operands::u1};
    t[0x96] = {"DW_OP_nop"};
    t[0x97] = {"DW_OP_push_object_address"};
    t[0x98] = {"DW_OP_call2", Operands::u2};
    t[0x99] = {"DW_OP_call4", Operands::u4};
    t[0x9A] = {"DW_OP_call_ref", Operands::reference};
    t[0x9B] = {"DW_OP_form_tls_address"};
    t[0x9C] = {"DW_OP_call_frame_cfa"};
    t[0x9D] = {"DW_OP_bit_piece", Operands::bitPiece};
    t[0x9E] = {"DW_OP_implicit_value", Operands::block};
    t[0x9F] = {"DW_OP_stack_value"};
    t[0xA0] = {"DW_OP_implicit_pointer", Operands::implicitPointer};
    t[0xA1] = {"DW_OP_addrx", Operands::uleb};
    t[0xA2] = {"DW_OP_constx", Operands::uleb};
    t[0xA3] = {"DW_OP_entry_value", Operands::expression};
    t[0xA4] = {"DW_OP_const_type", Operands::typedConstant};
    t[0xA5] = {"DW_OP_regval_type", Operands::registerType};
    t[0xA6] = {"DW_OP_deref_type", Operands::sizedType};
    t[0xA7] = {"DW_OP_xderef_type", Operands::sizedType};
    t[0xA8] = {"DW_OP_convert", Operands::uleb};
    t[0xA9] = {"DW_OP_reinterpret", Operands::uleb};
    t[0xE0] = {"DW_OP_GNU_push_tls_address"};
    t[0xF0] = {"DW_OP_GNU_uninit"};
    t[0xF1] = {"DW_OP_GNU_encoded_addr", Operands::encodedAddress};
    t[0xF2] = {"DW_OP_GNU_implicit_pointer", Operands::implicitPointer};
    t[0xF3] = {"DW_OP_GNU_entry_value", Operands::expression};
    t[0xF4] = {"DW_OP_GNU_const_type", Operands::typedConstant};
    t[0xF5] = {"DW_OP_GNU_regval_type", Operands::registerType};
    t[0xF6] = {"DW_OP_GNU_deref_type", Operands::sizedType};
    t[0xF7] = {"DW_OP_GNU_convert", Operands::uleb};
    t[0xF9] = {"DW_OP_GNU_reinterpret", Operands::uleb};
    t[0xFA] = {"DW_OP_GNU_parameter_ref", Operands::u4};
    t[0xFB] = {"DW_OP_GNU_addr_index", Operands::uleb};
    t[0xFC] = {"DW_OP_GNU_const_index", Operands::uleb};
    t[0xFD] = {"DW_OP_GNU_variable_value", Operands::reference};
    return t;
}();

constexpr std::uint8_t firstLiteral = 0x30;
constexpr std::uint8_t firstRegister = 0x50;
constexpr std::uint8_t firstBaseRegister = 0x70;
constexpr std::uint8_t lastBaseRegister = 0x8F;

// An entry value's expression holds the one it reads; a forged one could
// nest them as deep as its bytes allow.
constexpr unsigned maxNesting = 8;

void writeSigned(Output& out, std::int64_t value)
{
    if (value < 0) {
        out << '-' << dec(0 - static_cast<std::uint64_t>(value));
    } else {
        out << '+' << dec(static_cast<std::uint64_t>(value));
    }
}

void writeValue(Output& out, std::uint64_t value)
{
    out << "0x" << hex(value, 1);
}

// A constant of bytes bytes (1 to 8), sign-extended.
std::int64_t signExtend(std::uint64_t value, unsigned bytes)
{
    const unsigned shift = 64 - 8 * bytes;
    return static_cast<std::int64_t>(value << shift) >> shift;
}

// Writes the operations between the cursor and end, each charged to the
// budget; damage stops the expression (and those it is nested in).
class ExpressionWriter {
public:
    ExpressionWriter(Output& out, Cursor& cursor, const ExpressionShape& shape)
        : out_(out), c_(cursor), shape_(shape)
    {
    }

    bool write(std::uint64_t end, unsigned depth)
    {
        const std::uint64_t start = c_.offset();
        while (c_.offset() < end) {
            out_.budget().charge(entryCost);
            if (out_.budget().exhausted()) {
                return false;
            }
            if (c_.offset() != start) {
                out_ << ", ";
            }
            const std::uint64_t at = c_.fileOffset();
            const auto code = need(c_.u8());
            if (!code || !writeOperation(*code, end, depth)) {
                return false;
            }
            if (c_.offset() > end) {
                out_ << ' ';
                damage("the operands of the operation end past the expression", at);
                return false;
            }
        }
        return true;
    }

private:
    void damage(std::string_view what, std::uint64_t fileOffset)
    {
        out_ << "** " << what << " (at file offset 0x" << hex(fileOffset, 1) << ')';
    }

    // An operand, or nullopt after reporting the end of the bytes.
    template <class T> std::optional<T> need(std::optional<T> value)
    {
        if (!value) {
            out_ << ' ';
            damage(c_.failure() == "an over-long LEB128" ? "an over-long LEB128 operand"
                                                         : "an operand runs past the end",
                   c_.fileOffset());
        }
        return value;
    }

    bool writeBytes(std::uint64_t count, std::uint64_t end)
    {
        if (count > end - std::min(end, c_.offset())) {
            out_ << ' ';
            damage("a block runs past the end of the expression", c_.fileOffset());
            return false;
        }
        for (std::uint64_t i = 0; i < count; ++i) {
            const auto byte = need(c_.u8());
            if (!byte) {
                return false;
            }
            out_ << ' ' << hex(*byte, 2);
        }
        return true;
    }

    bool writeOperation(std::uint8_t code, std::uint64_t end, unsigned depth)
    {
        if (code >= firstLiteral && code < firstRegister) {
            out_ << "DW_OP_lit" << dec(code - firstLiteral);
            return true;
        }
        if (code >= firstRegister && code < firstBaseRegister) {
            out_ << "DW_OP_reg" << dec(code - firstRegister) << ' '
                 << registerName(shape_.machine, code - firstRegister);
            return true;
        }
        if (code >= firstBaseRegister && code <= lastBaseRegister) {
            out_ << "DW_OP_breg" << dec(code - firstBaseRegister) << ' '
                 << registerName(shape_.machine, code - firstBaseRegister);
            const auto offset = need(c_.sleb());
            if (offset) {
                writeSigned(out_, *offset);
            }
            return offset.has_value();
        }
        const Operation& op = operations[code];
        if (op.name.empty()) {
            damage("unknown operation 0x" + toHex(code, 2), c_.fileOffset() - 1);
            return false;
        }
        out_ << op.name;
        return writeOperands(op, end, depth);
    }

    bool writeFixed(unsigned size, bool isSigned)
    {
        const auto value = need(c_.fixed(size));
        if (value) {
            out_ << ' ';
            if (isSigned) {
                writeSigned(out_, signExtend(*value, size));
            } else {
                writeValue(out_, *value);
            }
        }
        return value.has_value();
    }

    bool writeUleb()
    {
        const auto value = need(c_.uleb());
        if (value) {
            out_ << ' ';
            writeValue(out_, *value);
        }
        return value.has_value();
    }

    bool writeSleb()
    {
        const auto value = need(c_.sleb());
        if (value) {
            out_ << ' ';
            writeSigned(out_, *value);
        }
        return value.has_value();
    }

    bool writeRegister()
    {
        const auto number = need(c_.uleb());
        if (number) {
            out_ << ' ' << registerName(shape_.machine, *number);
        }
        return number.has_value();
    }

    unsigned referenceSize() const
    {
        return shape_.version <= 2 ? shape_.addressSize : shape_.offsetSize;
    }

    bool writeNested(std::uint64_t end, unsigned depth)
    {
        const auto length = need(c_.uleb());
        if (!length) {
            return false;
        }
        if (*length > end - std::min(end, c_.offset())) {
            out_ << ' ';
            damage("a nested expression runs past the end", c_.fileOffset());
            return false;
        }
        if (depth + 1 >= maxNesting) {
            out_ << ' ';
            damage("expressions nested too deep", c_.fileOffset());
            return false;
        }
        out_ << '(';
        if (!write(c_.offset() + *length, depth + 1)) {
            return false;
        }
        out_ << ')';
        return true;
    }

    bool writeEncodedAddress()
    {
        const auto encoding = need(c_.u8());
        if (!encoding) {
            return false;
        }
        out_ << ' ';
        writeValue(out_, *encoding);
        // The low four bits of a DW_EH_PE encoding give the value's form.
        switch (*encoding & 0x0Fu) {
        case 0x00:
            return writeFixed(shape_.addressSize, false);
        case 0x01:
            return writeUleb();
        case 0x02:
            return writeFixed(2, false);
        case 0x03:
            return writeFixed(4, false);
        case 0x04:
            return writeFixed(8, false);
        case 0x09:
            return writeSleb();
        case 0x0A:
            return writeFixed(2, true);
        case 0x0B:
            return writeFixed(4, true);
        case 0x0C:
            return writeFixed(8, true);
        default:
            out_ << ' ';
            damage("unknown address encoding", c_.fileOffset() - 1);
            return false;
        }
    }

    bool writeOperands(const Operation& op, std::uint64_t end, unsigned depth)
    {
        switch (op.operands) {
        case Operands::none:
            return true;
        case Operands::address:
            return writeFixed(shape_.addressSize, false);
        case Operands::u1:
            return writeFixed(1, false);
        case Operands::s1:
            return writeFixed(1, true);
        case Operands::u2:
            return writeFixed(2, false);
        case Operands::s2:
            return writeFixed(2, true);
        case Operands::u4:
            return writeFixed(4, false);
        case Operands::s4:
            return writeFixed(4, true);
        case Operands::u8:
            return writeFixed(8, false);
        case Operands::s8:
            return writeFixed(8, true);
        case Operands::uleb:
            return writeUleb();
        case Operands::sleb:
            return writeSleb();
        case Operands::reference:
            return writeFixed(referenceSize(), false);
        case Operands::branch: {
            const auto distance = need(c_.fixed(2));
            if (distance) {
                // The target as an offset in the expression: the one this
                // writer was given starts at offset 0 of the cursor's view.
                const std::int64_t delta = signExtend(*distance, 2);
                out_ << ' ';
                writeSigned(out_, delta);
                out_ << " (to 0x" << hex(c_.offset() + static_cast<std::uint64_t>(delta), 1) << ')';
            }
            return distance.has_value();
        }
        case Operands::regx:
            return writeRegister();
        case Operands::bregx: {
            if (!writeRegister()) {
                return false;
            }
            const auto offset = need(c_.sleb());
            if (offset) {
                writeSigned(out_, *offset);
            }
            return offset.has_value();
        }
        case Operands::bitPiece:
            return writeUleb() && writeUleb();
        case Operands::block: {
            const auto length = need(c_.uleb());
            if (!length) {
                return false;
            }
            out_ << ' ';
            writeValue(out_, *length);
            return writeBytes(*length, end);
        }
        case Operands::expression:
            return writeNested(end, depth);
        case Operands::implicitPointer:
            return writeFixed(referenceSize(), false) && writeSleb();
        case Operands::typedConstant: {
            if (!writeUleb()) {
                return false;
            }
            const auto size = need(c_.u8());
            if (!size) {
                return false;
            }
            out_ << ' ';
            writeValue(out_, *size);
            return writeBytes(*size, end);
        }
        case Operands::registerType:
            return writeRegister() && writeUleb();
        case Operands::sizedType:
            return writeFixed(1, false) && writeUleb();
        case Operands::encodedAddress:
            return writeEncodedAddress();
        }
        return false;
    }

    Output& out_;
    Cursor& c_;
    const ExpressionShape& shape_;
};

} // namespace

std::string registerName(std::uint16_t machine, std::uint64_t number)
{
    for (const RegisterRange& range : registersOf(machine)) {
        if (number >= range.first && number - range.first < range.count) {
            std::string name(range.name);
            if (range.indexed) {
                name += std::to_string(range.firstIndex + number - range.first);
            }
            return name;
        }
    }
    return "reg" + std::to_string(number);
}

void writeExpression(Output& out, View bytes, const ExpressionShape& shape)
{
    Cursor cursor(bytes);
    ExpressionWriter(out, cursor, shape).write(bytes.size(), 0);
}

} // namespace tdump::dwarf
