#include "dwarf/expression.h"

#include <array>
#include <span>
#include <string_view>

#include "coff/coff.h"

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
    family(8, 8, "R"),     single(16, "RIP"),         family(17, 16, "XMM"), family(33, 8, "ST"),
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

void writeExpression(Output& out, View bytes, const ExpressionShape&)
{
    std::array<std::uint8_t, 1> byte{};
    for (std::uint64_t i = 0; i < bytes.size() && bytes.read(i, byte); ++i) {
        out << (i == 0 ? "" : " ") << hex(byte[0], 2);
    }
}

} // namespace tdump::dwarf
