// ARM64 unwind data as Microsoft's ARM64 exception handling documentation
// lays it out. An .xdata record is a header word (function length in
// instructions, version, X: a handler follows, E: one epilogue shares the
// prologue's codes, the epilogue count and the number of code words), a
// second header word when both counts are 0, the epilogue scopes, the
// unwind codes (bytes, stored in unwind order, the prologue's last
// instruction first) and, with X, the handler's RVA and its data. A .pdata
// entry whose low two bits are not 0 holds the canonical prologue's
// parameters instead.

#include "pe/arm64_unwind.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "budget.h"

namespace tdump::arm64 {
namespace {

// The header word's fields.
constexpr unsigned lengthMask = 0x3FFFF; // function length / 4
constexpr unsigned versionShift = 18;
constexpr unsigned handlerBit = 1u << 20;        // X
constexpr unsigned packedEpilogueBit = 1u << 21; // E
constexpr unsigned epilogueCountShift = 22;
constexpr unsigned epilogueCountMask = 0x1F;
constexpr unsigned codeWordsShift = 27;
// The extended header: epilogue count in the low 16 bits, code words above.
constexpr unsigned extendedCountMask = 0xFFFF;
constexpr unsigned extendedWordsShift = 16;
constexpr unsigned extendedWordsMask = 0xFF;
// An epilogue scope: start offset / 4 in the low 18 bits, the index of its
// first unwind code in the top 10.
constexpr unsigned scopeIndexShift = 22;
constexpr std::uint64_t instructionSize = 4;

// Packed data: flag, function length / 4, RegF, RegI, H, CR, frame size / 16.
constexpr unsigned packedFlagMask = 3;
constexpr unsigned packedFragment = 2;
constexpr unsigned packedReserved = 3;
constexpr unsigned packedLengthShift = 2;
constexpr unsigned packedLengthMask = 0x7FF;
constexpr unsigned regFShift = 13;
constexpr unsigned regFMask = 7;
constexpr unsigned regIShift = 16;
constexpr unsigned regIMask = 0xF;
constexpr unsigned homedShift = 20;
constexpr unsigned crShift = 21;
constexpr unsigned crMask = 3;
constexpr unsigned frameSizeShift = 23;
constexpr unsigned crLrSaved = 1;
constexpr unsigned crSignedChained = 2;
constexpr unsigned crChained = 3;
// The canonical prologue allocates at most this much in one instruction,
// and stores <x29, lr> with a pre-decrement only in a frame this small.
constexpr int largestSingleAllocation = 4080;
constexpr int largestPreIndexedFrame = 512;

// The unwind codes: which first bytes each takes, how many bytes it has.
struct CodeKind {
    std::uint8_t mask;
    std::uint8_t value;
    unsigned length;
    std::string_view name;
};

enum Code : std::uint8_t {
    allocS = 0x00,
    saveR19R20X = 0x20,
    saveFpLr = 0x40,
    saveFpLrX = 0x80,
    allocM = 0xC0,
    saveRegP = 0xC8,
    saveRegPX = 0xCC,
    saveReg = 0xD0,
    saveRegX = 0xD4,
    saveLrPair = 0xD6,
    saveFRegP = 0xD8,
    saveFRegPX = 0xDA,
    saveFReg = 0xDC,
    saveFRegX = 0xDE,
    allocL = 0xE0,
    setFp = 0xE1,
    addFp = 0xE2,
    nop = 0xE3,
    end = 0xE4,
    endChained = 0xE5,
    saveNext = 0xE6,
    saveAnyReg = 0xE7,
    trapFrame = 0xE8,
    machineFrame = 0xE9,
    context = 0xEA,
    ecContext = 0xEB,
    clearUnwoundToCall = 0xEC,
    pacSignLr = 0xFC,
};

constexpr CodeKind codeKinds[] = {
    {0xE0, allocS, 1, "alloc_s"},
    {0xE0, saveR19R20X, 1, "save_r19r20_x"},
    {0xC0, saveFpLr, 1, "save_fplr"},
    {0xC0, saveFpLrX, 1, "save_fplr_x"},
    {0xF8, allocM, 2, "alloc_m"},
    {0xFC, saveRegP, 2, "save_regp"},
    {0xFC, saveRegPX, 2, "save_regp_x"},
    {0xFC, saveReg, 2, "save_reg"},
    {0xFE, saveRegX, 2, "save_reg_x"},
    {0xFE, saveLrPair, 2, "save_lrpair"},
    {0xFE, saveFRegP, 2, "save_fregp"},
    {0xFE, saveFRegPX, 2, "save_fregp_x"},
    {0xFE, saveFReg, 2, "save_freg"},
    {0xFF, saveFRegX, 2, "save_freg_x"},
    {0xFF, allocL, 4, "alloc_l"},
    {0xFF, setFp, 1, "set_fp"},
    {0xFF, addFp, 2, "add_fp"},
    {0xFF, nop, 1, "nop"},
    {0xFF, end, 1, "end"},
    {0xFF, endChained, 1, "end_c"},
    {0xFF, saveNext, 1, "save_next"},
    {0xFF, saveAnyReg, 3, "save_any_reg"},
    {0xFF, trapFrame, 1, "MSFT_OP_TRAP_FRAME"},
    {0xFF, machineFrame, 1, "MSFT_OP_MACHINE_FRAME"},
    {0xFF, context, 1, "MSFT_OP_CONTEXT"},
    {0xFF, ecContext, 1, "MSFT_OP_EC_CONTEXT"},
    {0xFF, clearUnwoundToCall, 1, "MSFT_OP_CLEAR_UNWOUND_TO_CALL"},
    {0xFF, pacSignLr, 1, "pac_sign_lr"},
};

const CodeKind* codeKind(std::uint8_t first)
{
    for (const CodeKind& kind : codeKinds) {
        if ((first & kind.mask) == kind.value) {
            return &kind;
        }
    }
    return nullptr;
}

std::string number(std::uint64_t value)
{
    return std::to_string(value);
}

// A register by its kind's letter and number, built a piece at a time
// (MinGW-w64 g++ 12 -O3 -Wrestrict mistakes a one-letter literal before a
// temporary string for an overlapping copy).
std::string registerName(std::string_view prefix, unsigned n)
{
    std::string name(prefix);
    name += number(n);
    return name;
}

// x29 keeps its number in pairs, as the instructions name it; x30 is lr.
std::string intRegister(unsigned n)
{
    return n == 30 ? std::string("lr") : registerName("x", n);
}

std::string pairText(std::string_view prefix, unsigned first, unsigned second)
{
    return registerName(prefix, first) + ", " + registerName(prefix, second);
}

// A store (prologue) or load (epilogue) of registers at [sp, #offset], or,
// with writeback, at [sp, #-offset]! (the loads as [sp], #offset).
std::string storeText(bool epilogue, bool pair, const std::string& registers, std::uint64_t offset,
                      bool writeback)
{
    const std::string op = std::string(epilogue ? "ld" : "st") + (pair ? "p " : "r ");
    if (!writeback) {
        return op + registers + ", [sp, #" + number(offset) + "]";
    }
    return op + registers +
           (epilogue ? ", [sp], #" + number(offset) : ", [sp, #-" + number(offset) + "]!");
}

std::string intStore(bool epilogue, unsigned reg, std::uint64_t offset, bool writeback)
{
    return storeText(epilogue, false, intRegister(reg), offset, writeback);
}

std::string intPairStore(bool epilogue, unsigned reg, std::uint64_t offset, bool writeback)
{
    return storeText(epilogue, true, intRegister(reg) + ", " + intRegister(reg + 1), offset,
                     writeback);
}

std::string stackAdjust(bool epilogue, std::uint64_t size)
{
    return std::string(epilogue ? "add" : "sub") + " sp, sp, #" + number(size);
}

// save_any_reg: 0pxrrrrr ffoooooo: a pair or one register, writeback,
// the register, its kind (x, d, q) and the offset, in units of 16 bytes
// for a pair, writeback or q, else of 8.
std::optional<std::string> anyRegisterText(bool epilogue, std::uint8_t b1, std::uint8_t b2)
{
    constexpr std::array<std::string_view, 3> prefixes = {"x", "d", "q"};
    const bool pair = (b1 & 0x40) != 0;
    const bool writeback = (b1 & 0x20) != 0;
    const unsigned reg = b1 & 0x1Fu;
    const unsigned kind = b2 >> 6u;
    if ((b1 & 0x80) != 0 || kind >= prefixes.size()) {
        return std::nullopt;
    }
    const std::uint64_t unit = pair || writeback || kind == 2 ? 16 : 8;
    const std::uint64_t offset = std::uint64_t{b2 & 0x3Fu} * unit;
    std::string registers = registerName(prefixes[kind], reg);
    if (pair) {
        registers += ", " + registerName(prefixes[kind], reg + 1);
    }
    return storeText(epilogue, pair, registers, offset, writeback);
}

// The instruction a code stands for in a prologue or an epilogue; empty
// for codes that stand for none (end, the custom stack cases).
std::string instruction(const CodeKind& kind, const std::uint8_t* b, bool epilogue)
{
    const unsigned low2 = ((b[0] & 3u) << 2u) | (b[1] >> 6u); // save_regp, save_reg: X
    const unsigned low1 = ((b[0] & 1u) << 2u) | (b[1] >> 6u); // lrpair, fregp, freg: X
    const std::uint64_t scaled = std::uint64_t{b[1] & 0x3Fu} * 8;
    const std::uint64_t scaledX = (std::uint64_t{b[1] & 0x3Fu} + 1) * 8;
    switch (kind.value) {
    case allocS:
        return stackAdjust(epilogue, std::uint64_t{b[0] & 0x1Fu} * 16);
    case saveR19R20X:
        return intPairStore(epilogue, 19, std::uint64_t{b[0] & 0x1Fu} * 8, true);
    case saveFpLr:
        return intPairStore(epilogue, 29, std::uint64_t{b[0] & 0x3Fu} * 8, false);
    case saveFpLrX:
        return intPairStore(epilogue, 29, (std::uint64_t{b[0] & 0x3Fu} + 1) * 8, true);
    case allocM:
        return stackAdjust(epilogue, ((std::uint64_t{b[0] & 7u} << 8u) | b[1]) * 16);
    case saveRegP:
        return intPairStore(epilogue, 19 + low2, scaled, false);
    case saveRegPX:
        return intPairStore(epilogue, 19 + low2, scaledX, true);
    case saveReg:
        return intStore(epilogue, 19 + low2, scaled, false);
    case saveRegX:
        return intStore(epilogue, 19 + (((b[0] & 1u) << 3u) | (b[1] >> 5u)),
                        (std::uint64_t{b[1] & 0x1Fu} + 1) * 8, true);
    case saveLrPair:
        return storeText(epilogue, true, intRegister(19 + 2 * low1) + ", lr", scaled, false);
    case saveFRegP:
        return storeText(epilogue, true, pairText("d", 8 + low1, 9 + low1), scaled, false);
    case saveFRegPX:
        return storeText(epilogue, true, pairText("d", 8 + low1, 9 + low1), scaledX, true);
    case saveFReg:
        return storeText(epilogue, false, registerName("d", 8 + low1), scaled, false);
    case saveFRegX:
        return storeText(epilogue, false, registerName("d", 8 + (b[1] >> 5u)),
                         (std::uint64_t{b[1] & 0x1Fu} + 1) * 8, true);
    case allocL:
        return stackAdjust(
            epilogue, ((std::uint64_t{b[1]} << 16u) | (std::uint64_t{b[2]} << 8u) | b[3]) * 16);
    case setFp:
        return epilogue ? "mov sp, x29" : "mov x29, sp";
    case addFp:
        return (epilogue ? "sub sp, x29, #" : "add x29, sp, #") + number(std::uint64_t{b[1]} * 8);
    case nop:
        return "nop";
    case saveAnyReg:
        return anyRegisterText(epilogue, b[1], b[2]).value_or("");
    case pacSignLr:
        return epilogue ? "autibsp" : "pacibsp";
    default:
        return "";
    }
}

// save_next stores the pair after the one the save before it in the
// prologue stored, 16 bytes further on; after x27, x28 come d8, d9. The
// codes run in unwind order, so that save is the first pair save after a
// run of save_next codes: the text of the save_next at index i, found by
// walking on to it; empty when the run does not end in a pair save.
std::string nextPairText(View record, std::uint64_t codesAt, std::uint32_t codeBytes,
                         std::uint32_t i, bool epilogue)
{
    unsigned distance = 0;
    std::array<std::uint8_t, 2> b{};
    for (; i < codeBytes; ++i, ++distance) {
        b = {};
        (void)record.read(codesAt + i,
                          std::span(b.data(), std::min<std::uint32_t>(2, codeBytes - i)));
        if (b[0] != saveNext) {
            break;
        }
    }
    const CodeKind* base = i < codeBytes ? codeKind(b[0]) : nullptr;
    if (base == nullptr || base->length > codeBytes - i) {
        return "";
    }
    const unsigned x = ((b[0] & 3u) << 2u) | (b[1] >> 6u);
    const unsigned fx = ((b[0] & 1u) << 2u) | (b[1] >> 6u);
    const std::uint64_t scaled = std::uint64_t{b[1] & 0x3Fu} * 8;
    unsigned intReg = 0;
    unsigned floatReg = 0;
    std::uint64_t offset = 0; // of the base pair; a pre-decrement leaves it at sp
    switch (base->value) {
    case saveR19R20X:
        intReg = 19;
        break;
    case saveRegP:
        intReg = 19 + x;
        offset = scaled;
        break;
    case saveRegPX:
        intReg = 19 + x;
        break;
    case saveFRegP:
        floatReg = 8 + fx;
        offset = scaled;
        break;
    case saveFRegPX:
        floatReg = 8 + fx;
        break;
    default:
        return "";
    }
    offset += std::uint64_t{distance} * 16;
    if (intReg != 0) {
        const unsigned intPairsLeft = intReg <= 27 ? (27 - intReg) / 2 : 0;
        if (distance <= intPairsLeft) {
            return intPairStore(epilogue, intReg + 2 * distance, offset, false);
        }
        floatReg = 8 + 2 * (distance - intPairsLeft - 1);
    } else {
        floatReg += 2 * distance;
    }
    return storeText(epilogue, true, pairText("d", floatReg, floatReg + 1), offset, false);
}

// Lists the codes from index start up to the end code, as the prologue
// (unwind order) or an epilogue (execution order) runs them. The codes are at
// the view's offset codesAt.
void listCodes(Output& out, View record, std::uint64_t codesAt, std::uint32_t codeBytes,
               std::uint32_t start, bool epilogue)
{
    std::array<std::uint8_t, 4> b{};
    for (std::uint32_t i = start; i < codeBytes && !out.budget().exhausted();) {
        out.budget().charge(entryCost);
        const std::uint64_t at = codesAt + i;
        b = {};
        (void)record.read(at, std::span(b.data(), 1));
        const CodeKind* kind = codeKind(b[0]);
        if (kind == nullptr) {
            report(out,
                   "unwind code 0x" + toHex(b[0], 2) + " at index " + number(i) + " is reserved",
                   record.base() + at);
            return;
        }
        if (kind->length > codeBytes - i) {
            report(out,
                   std::string(kind->name) + " at index " + number(i) + " needs " +
                       number(kind->length) + " bytes, " + number(codeBytes - i) + " are left",
                   record.base() + at);
            return;
        }
        (void)record.read(at, std::span(b.data(), kind->length));
        std::string bytes;
        for (unsigned k = 0; k < kind->length; ++k) {
            bytes += toHex(b[k], 2) + ' ';
        }
        const std::string text = kind->value == saveNext
                                     ? nextPairText(record, codesAt, codeBytes, i, epilogue)
                                     : instruction(*kind, b.data(), epilogue);
        if (kind->value == saveAnyReg && text.empty()) {
            out << "        " << bytes << '\n';
            report(out, "save_any_reg at index " + number(i) + " has a reserved form",
                   record.base() + at);
            return;
        }
        out << "        " << column(bytes, 12);
        if (text.empty()) {
            out << kind->name << '\n';
        } else {
            out << column(kind->name, 15) << text << '\n';
        }
        if (kind->value == end) {
            return;
        }
        i += kind->length;
    }
    if (!out.budget().exhausted()) {
        report(out, "the unwind codes from index " + number(start) + " have no end code",
               record.base() + codesAt + start);
    }
}

struct Header {
    std::uint32_t functionLength = 0; // bytes
    unsigned version = 0;
    bool handler = false;
    bool packedEpilogue = false;
    std::uint32_t epilogueCount = 0; // with E: the epilogue's first code
    std::uint32_t codeBytes = 0;
    std::uint64_t size = 4;
};

// The prologue the packed fields stand for, in execution order, as the
// documentation's canonical form builds it; what it could not build is
// left in problem.
std::vector<std::string> packedPrologue(std::uint32_t word, std::string& problem)
{
    const int regF = static_cast<int>((word >> regFShift) & regFMask);
    const int regI = static_cast<int>((word >> regIShift) & regIMask);
    const bool homed = ((word >> homedShift) & 1u) != 0;
    const unsigned cr = (word >> crShift) & crMask;
    const int frameSize = static_cast<int>(word >> frameSizeShift) * 16;
    const bool chained = cr == crChained || cr == crSignedChained;
    const int intSize = regI * 8 + (cr == crLrSaved ? 8 : 0);
    const int floatCount = regF == 0 ? 0 : regF + 1;
    const int floatSize = floatCount * 8;
    const int homeSize = homed ? 64 : 0;
    const int saveSize = (intSize + floatSize + homeSize + 15) & ~15;
    const int localSize = frameSize - saveSize;
    const auto at = [](int offset) { return static_cast<std::uint64_t>(offset); };

    std::vector<std::string> lines;
    if (cr == crSignedChained) {
        lines.emplace_back("pacibsp");
    }
    // The integer registers in pairs from x19, the first with the
    // pre-decrement of the whole save area; lr ends the area with CR 1,
    // sharing an odd last register's pair.
    for (int i = 0; i < (regI + 1) / 2; ++i) {
        const auto reg = static_cast<unsigned>(19 + 2 * i);
        const bool lone = i == (regI + 1) / 2 - 1 && regI % 2 == 1;
        if (lone && cr == crLrSaved) {
            if (i == 0) {
                problem = "RegI 1 with CR 1 has no canonical prologue";
                return {};
            }
            lines.push_back(storeText(false, true, intRegister(reg) + ", lr", at(16 * i), false));
        } else if (lone) {
            lines.push_back(i == 0 ? intStore(false, reg, at(saveSize), true)
                                   : intStore(false, reg, at(16 * i), false));
        } else {
            lines.push_back(i == 0 ? intPairStore(false, reg, at(saveSize), true)
                                   : intPairStore(false, reg, at(16 * i), false));
        }
    }
    if (cr == crLrSaved && regI % 2 == 0) {
        lines.push_back(regI == 0 ? intStore(false, 30, at(saveSize), true)
                                  : intStore(false, 30, at(intSize - 8), false));
    }
    for (int i = 0; i < (floatCount + 1) / 2; ++i) {
        const auto reg = static_cast<unsigned>(8 + 2 * i);
        if (i == (floatCount + 1) / 2 - 1 && floatCount % 2 == 1) {
            lines.push_back(
                storeText(false, false, registerName("d", reg), at(intSize + 16 * i), false));
        } else if (i == 0 && intSize == 0) {
            lines.push_back(
                storeText(false, true, pairText("d", reg, reg + 1), at(saveSize), true));
        } else {
            lines.push_back(
                storeText(false, true, pairText("d", reg, reg + 1), at(intSize + 16 * i), false));
        }
    }
    if (homed) {
        for (unsigned i = 0; i < 4; ++i) {
            const bool first = i == 0 && intSize == 0 && floatSize == 0;
            lines.push_back(first ? intPairStore(false, 0, at(saveSize), true)
                                  : intPairStore(false, 2 * i,
                                                 at(intSize + floatSize + 16 * static_cast<int>(i)),
                                                 false));
        }
    }
    if (localSize < 0) {
        problem = "the frame size " + number(at(frameSize)) + " is smaller than the " +
                  number(at(saveSize)) + " bytes of saved registers";
        return lines;
    }
    if (localSize > largestSingleAllocation) {
        lines.push_back(stackAdjust(false, largestSingleAllocation));
        lines.push_back(stackAdjust(false, at(localSize - largestSingleAllocation)));
    } else if ((!chained && localSize > 0) || localSize > largestPreIndexedFrame) {
        lines.push_back(stackAdjust(false, at(localSize)));
    }
    if (chained) {
        lines.push_back(localSize <= largestPreIndexedFrame
                            ? intPairStore(false, 29, at(localSize), true)
                            : intPairStore(false, 29, 0, false));
        lines.emplace_back("mov x29, sp");
    }
    return lines;
}

} // namespace

void listPacked(Output& out, std::uint32_t unwindWord, std::uint64_t fileOffset)
{
    const unsigned flag = unwindWord & packedFlagMask;
    out << (flag == packedFragment ? "packed fragment " : "packed ") << hex(unwindWord)
        << ": function length "
        << dec(std::uint64_t{(unwindWord >> packedLengthShift) & packedLengthMask} *
               instructionSize)
        << ", RegF " << dec((unwindWord >> regFShift) & regFMask) << ", RegI "
        << dec((unwindWord >> regIShift) & regIMask) << ", H "
        << dec((unwindWord >> homedShift) & 1u) << ", CR " << dec((unwindWord >> crShift) & crMask)
        << ", frame size " << dec(std::uint64_t{unwindWord >> frameSizeShift} * 16) << '\n';
    if (flag == packedReserved) {
        report(out, "packed unwind data with flag 3, which is reserved", fileOffset);
        return;
    }
    std::string problem;
    std::vector<std::string> prologue = packedPrologue(unwindWord, problem);
    // In unwind order, as an .xdata record's codes are.
    std::reverse(prologue.begin(), prologue.end());
    if (!prologue.empty()) {
        out << "      Prologue, last instruction first\n";
        for (const std::string& line : prologue) {
            out << "        " << line << '\n';
        }
    }
    if (!problem.empty()) {
        report(out, problem, fileOffset);
    }
}

void listRecord(Output& out, View record, std::optional<std::uint32_t> rva,
                const FieldName& fieldName)
{
    const auto word = record.u32(0);
    if (!word) {
        out << '\n';
        report(out, "the unwind data lies past the end of its section", record.base());
        return;
    }
    Header h;
    h.functionLength = (*word & lengthMask) * instructionSize;
    h.version = (*word >> versionShift) & 3u;
    h.handler = (*word & handlerBit) != 0;
    h.packedEpilogue = (*word & packedEpilogueBit) != 0;
    h.epilogueCount = (*word >> epilogueCountShift) & epilogueCountMask;
    h.codeBytes = (*word >> codeWordsShift) * 4;
    out << "function length " << dec(h.functionLength) << ", version " << dec(h.version) << ", X "
        << dec(h.handler ? 1 : 0) << ", E " << dec(h.packedEpilogue ? 1 : 0)
        << (h.packedEpilogue ? ", epilogue index " : ", epilogues ") << dec(h.epilogueCount)
        << ", code words " << dec(h.codeBytes / 4);
    if (h.epilogueCount == 0 && h.codeBytes == 0) {
        const auto extended = record.u32(4);
        if (!extended) {
            out << '\n';
            report(out, "the extended header lies past the end of its section", record.base() + 4);
            return;
        }
        h.size = 8;
        h.epilogueCount = *extended & extendedCountMask;
        h.codeBytes = ((*extended >> extendedWordsShift) & extendedWordsMask) * 4;
        out << "; extended: " << (h.packedEpilogue ? "epilogue index " : "epilogues ")
            << dec(h.epilogueCount) << ", code words " << dec(h.codeBytes / 4);
    }
    out << '\n';
    if (h.version != 0) {
        report(out, "unwind data version " + number(h.version) + " is not known", record.base());
        return;
    }
    const std::uint64_t scopes = h.packedEpilogue ? 0 : h.epilogueCount;
    const std::uint64_t codesAt = h.size + scopes * 4;
    if (!record.has(0, codesAt + h.codeBytes)) {
        report(out, "the epilogue scopes and unwind codes run past the end of their section",
               record.base());
        return;
    }
    out << "      Prologue, last instruction first\n";
    listCodes(out, record, codesAt, h.codeBytes, 0, false);
    // An epilogue runs the codes from its start index in execution order.
    const auto epilogue = [&](std::uint32_t start, std::uint64_t at) {
        if (start >= h.codeBytes) {
            report(out,
                   "the epilogue's start index " + number(start) + " lies past the " +
                       number(h.codeBytes) + " code bytes",
                   record.base() + at);
            return;
        }
        listCodes(out, record, codesAt, h.codeBytes, start, true);
    };
    if (h.packedEpilogue) {
        // The one epilogue ends the function; its codes say how long it is.
        // From index 0 they are the prologue's, listed above.
        out << "      Epilogue at the end of the function, codes from index "
            << dec(h.epilogueCount) << (h.epilogueCount == 0 ? " (the prologue's)\n" : "\n");
        if (h.epilogueCount != 0) {
            epilogue(h.epilogueCount, 0);
        }
    }
    for (std::uint64_t i = 0; i < scopes && !out.budget().exhausted(); ++i) {
        const std::uint64_t at = h.size + i * 4;
        const std::uint32_t scope = record.u32(at).value_or(0);
        out << "      Epilogue at +0x"
            << hex(std::uint64_t{scope & lengthMask} * instructionSize, 1) << ", codes from index "
            << dec(scope >> scopeIndexShift) << '\n';
        epilogue(scope >> scopeIndexShift, at);
    }
    if (!h.handler) {
        return;
    }
    const std::uint64_t handlerAt = codesAt + h.codeBytes;
    const auto handler = record.u32(handlerAt);
    if (!handler) {
        report(out, "the exception handler's RVA lies past the end of its section",
               record.base() + std::min(handlerAt, record.size()));
        return;
    }
    const auto named = [&](std::uint64_t offset, std::uint32_t value) {
        const std::string name = fieldName(offset);
        return name.empty() ? toHex(value, 8) : name + (value != 0 ? "+0x" + toHex(value) : "");
    };
    out << "      Exception handler " << named(handlerAt, *handler) << ", data at ";
    if (rva) {
        out << hex(*rva + handlerAt + 4);
    } else {
        out << "record offset 0x" << hex(handlerAt + 4, 1);
    }
    const auto data = record.u32(handlerAt + 4);
    if (data) {
        out << ": " << named(handlerAt + 4, *data) << '\n';
    } else {
        out << '\n';
        report(out, "the handler data lies past the end of its section",
               record.base() + std::min(handlerAt + 4, record.size()));
    }
}

} // namespace tdump::arm64
