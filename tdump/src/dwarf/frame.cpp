// .debug_frame: the call-frame information that says, for every address of
// the code, where the caller's frame is and where each register was saved.
// It is a run of entries: CIEs, which hold what many frames share (the
// alignment factors, the return-address register, the first instructions),
// and FDEs, each covering one address range with instructions of its own
// and naming its CIE by offset.

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "dwarf/cursor.h"
#include "dwarf/dwarf.h"
#include "dwarf/expression.h"

namespace tdump::dwarf {
namespace {

// The CIE id field of a CIE; an FDE holds its CIE's offset there instead.
constexpr std::uint64_t cieId32 = 0xFFFFFFFFu;
constexpr std::uint64_t cieId64 = ~std::uint64_t{0};
// Augmentation strings are a few letters; a longer one is kept this long.
constexpr std::size_t augmentationLimit = 64;
// FDEs name CIEs by offset; the CIEs read are kept, up to this many, so a
// file of thousands of FDEs reads each CIE once.
constexpr std::size_t cieCacheLimit = 4096;
// The column instruction operands start in.
constexpr std::size_t nameWidth = 30;

// What an entry's instructions are decoded with: the fields of its CIE.
struct Cie {
    unsigned offsetSize = 4;
    unsigned version = 0;
    std::string augmentation;
    // Only an empty augmentation (what GCC and clang write) is understood;
    // with any other the fields after it may be laid out differently, so
    // they are not read.
    bool understood = false;
    unsigned addressSize = 0;
    unsigned segmentSize = 0;
    std::uint64_t codeAlignment = 0;
    std::int64_t dataAlignment = 0;
    std::uint64_t returnRegister = 0;
    std::uint64_t instructions = 0; // where the initial instructions start
    std::uint64_t end = 0;          // section offset just past the entry
};

// A CIE's fields, or why they cannot be read.
struct CieReading {
    std::optional<Cie> cie;
    std::string problem;
    std::uint64_t problemOffset = 0; // file offset of the field at fault
};

CieReading failed(std::string problem, std::uint64_t fileOffset)
{
    return {std::nullopt, std::move(problem), fileOffset};
}

// Reads the CIE at offset of the section: its length, id, version and
// augmentation, and the fields after an augmentation it understands.
CieReading readCie(Cursor& c, std::uint64_t offset, unsigned defaultAddressSize)
{
    c.seek(offset);
    const std::uint64_t start = c.fileOffset();
    const auto length = c.initialLength();
    if (!length) {
        return failed("its length cannot be read: " + std::string(c.failure()), start);
    }
    Cie cie;
    cie.offsetSize = length->offsetSize;
    // One that runs past the section is read as far as the section goes;
    // the walk over the entries reports its length.
    cie.end = c.offset() + std::min(length->length, c.remaining());
    const auto id = c.offsetField(cie.offsetSize);
    if (!id || *id != (cie.offsetSize == 4 ? cieId32 : cieId64)) {
        return failed("it is not a CIE", start);
    }
    const std::uint64_t versionOffset = c.fileOffset();
    const auto version = c.u8();
    const auto augmentation = c.string(augmentationLimit);
    if (!version || !augmentation || c.offset() > cie.end) {
        return failed("its version and augmentation run past its end", versionOffset);
    }
    if (*version != 1 && *version != 3 && *version != 4) {
        return failed("its version " + std::to_string(*version) + " is not 1, 3 or 4",
                      versionOffset);
    }
    cie.version = *version;
    cie.augmentation = *augmentation;
    cie.understood = augmentation->empty();
    cie.addressSize = defaultAddressSize;
    if (!cie.understood) {
        return {cie, {}, 0};
    }
    const std::uint64_t fieldsOffset = c.fileOffset();
    if (cie.version >= 4) {
        const auto addressSize = c.u8();
        const auto segmentSize = c.u8();
        if (!addressSize || !segmentSize) {
            return failed("its address sizes run past the section", fieldsOffset);
        }
        cie.addressSize = *addressSize;
        cie.segmentSize = *segmentSize;
        if (cie.addressSize == 0 || cie.addressSize > 8 || cie.segmentSize > 8) {
            return failed("its address size " + std::to_string(cie.addressSize) +
                              " or segment selector size " + std::to_string(cie.segmentSize) +
                              " is not 1 to 8 (0 too for the segment selector)",
                          fieldsOffset);
        }
    }
    const auto codeAlignment = c.uleb();
    const auto dataAlignment = codeAlignment ? c.sleb() : std::nullopt;
    const auto returnRegister = !dataAlignment     ? std::nullopt
                                : cie.version == 1 ? c.fixed(1)
                                                   : c.uleb();
    if (!returnRegister) {
        return failed("its alignment factors and return address register cannot be read: " +
                          std::string(c.failure()),
                      fieldsOffset);
    }
    if (c.offset() > cie.end) {
        return failed("its fields run past its end", fieldsOffset);
    }
    cie.codeAlignment = *codeAlignment;
    cie.dataAlignment = *dataAlignment;
    cie.returnRegister = *returnRegister;
    cie.instructions = c.offset();
    return {cie, {}, 0};
}

// A signed number with its sign, as offsets are written: "+16", "-8".
void writeSigned(Output& out, std::int64_t value)
{
    const auto magnitude = static_cast<std::uint64_t>(value);
    out << (value < 0 ? '-' : '+') << dec(value < 0 ? 0 - magnitude : magnitude);
}

// How an instruction's operand is encoded and what it means.
enum class Operand : std::uint8_t {
    none,
    lowDelta, // advance in the opcode's low six bits, in code alignment units
    delta1,   // advance in a byte, two, or four
    delta2,
    delta4,
    address,      // an address of the CIE's size
    lowRegister,  // register in the opcode's low six bits
    reg,          // register, ULEB128
    offset,       // ULEB128 byte offset, not factored
    factored,     // ULEB128 times the data alignment factor
    signedFactor, // SLEB128 times the data alignment factor
    negated,      // ULEB128 times the data alignment factor, negated
    expression,   // ULEB128 length, then a DWARF expression
};

struct Instruction {
    std::string_view name;
    Operand first = Operand::none;
    Operand second = Operand::none;
};

// The instructions with opcodes of their own (the top two bits clear), by opcode.
constexpr std::array<Instruction, 0x30> extendedInstructions = [] {
    std::array<Instruction, 0x30> t{};
    t[0x00] = {"DW_CFA_nop"};
    t[0x01] = {"DW_CFA_set_loc", Operand::address};
    t[0x02] = {"DW_CFA_advance_loc1", Operand::delta1};
    t[0x03] = {"DW_CFA_advance_loc2", Operand::delta2};
    t[0x04] = {"DW_CFA_advance_loc4", Operand::delta4};
    t[0x05] = {"DW_CFA_offset_extended", Operand::reg, Operand::factored};
    t[0x06] = {"DW_CFA_restore_extended", Operand::reg};
    t[0x07] = {"DW_CFA_undefined", Operand::reg};
    t[0x08] = {"DW_CFA_same_value", Operand::reg};
    t[0x09] = {"DW_CFA_register", Operand::reg, Operand::reg};
    t[0x0A] = {"DW_CFA_remember_state"};
    t[0x0B] = {"DW_CFA_restore_state"};
    t[0x0C] = {"DW_CFA_def_cfa", Operand::reg, Operand::offset};
    t[0x0D] = {"DW_CFA_def_cfa_register", Operand::reg};
    t[0x0E] = {"DW_CFA_def_cfa_offset", Operand::offset};
    t[0x0F] = {"DW_CFA_def_cfa_expression", Operand::expression};
    t[0x10] = {"DW_CFA_expression", Operand::reg, Operand::expression};
    t[0x11] = {"DW_CFA_offset_extended_sf", Operand::reg, Operand::signedFactor};
    t[0x12] = {"DW_CFA_def_cfa_sf", Operand::reg, Operand::signedFactor};
    t[0x13] = {"DW_CFA_def_cfa_offset_sf", Operand::signedFactor};
    t[0x14] = {"DW_CFA_val_offset", Operand::reg, Operand::factored};
    t[0x15] = {"DW_CFA_val_offset_sf", Operand::reg, Operand::signedFactor};
    t[0x16] = {"DW_CFA_val_expression", Operand::reg, Operand::expression};
    t[0x2D] = {"DW_CFA_GNU_window_save"};
    t[0x2E] = {"DW_CFA_GNU_args_size", Operand::offset};
    t[0x2F] = {"DW_CFA_GNU_negative_offset_extended", Operand::reg, Operand::negated};
    return t;
}();

// The instructions whose top two bits are the opcode and whose low six an operand.
constexpr std::array<Instruction, 3> primaryInstructions = {{
    {"DW_CFA_advance_loc", Operand::lowDelta},
    {"DW_CFA_offset", Operand::lowRegister, Operand::factored},
    {"DW_CFA_restore", Operand::lowRegister},
}};

// Decodes and writes the instructions of one entry, [c.offset(), end).
class InstructionWriter {
public:
    // location: where an FDE's instructions start applying (advances are
    // shown with the address they reach); none for a CIE's.
    InstructionWriter(Cursor& c, const Cie& cie, std::uint16_t machine,
                      std::optional<std::uint64_t> location)
        : c_(c), cie_(cie),
          location_(location), shape_{cie.addressSize, cie.offsetSize, cie.version, machine}
    {
    }

    void write(std::uint64_t end, Output& out)
    {
        while (c_.offset() < end && !out.budget().exhausted()) {
            out.budget().charge(entryCost);
            const std::uint64_t at = c_.fileOffset();
            const auto opcode = c_.u8();
            if (!opcode) {
                report(out, "call-frame instruction: " + std::string(c_.failure()), at);
                return;
            }
            const unsigned primary = *opcode >> 6;
            const Instruction& instruction = primary != 0 ? primaryInstructions[primary - 1]
                                             : *opcode < extendedInstructions.size()
                                                 ? extendedInstructions[*opcode]
                                                 : unknown_;
            if (instruction.name.empty()) {
                report(out,
                       "unknown call-frame instruction 0x" + toHex(*opcode, 2) +
                           ": the rest of the entry's instructions are not decoded",
                       at);
                return;
            }
            low_ = *opcode & 0x3Fu;
            problem_ = {};
            const Value first = read(instruction.first);
            const Value second = read(instruction.second);
            if (problem_.empty() && c_.offset() > end) {
                problem_ = "its operands run past the end of the entry";
            }
            if (!problem_.empty()) {
                report(out, std::string(instruction.name) + ": " + std::string(problem_), at);
                return;
            }
            out << "              "
                << column(instruction.name, instruction.first == Operand::none ? 0 : nameWidth);
            writeOperand(out, instruction.first, first);
            writeOperand(out, instruction.second, second);
            out << '\n';
        }
    }

private:
    struct Value {
        std::uint64_t number = 0;
        View bytes; // of an expression
    };

    // Reads an operand; a failure is kept in problem_ and later reads give 0.
    Value read(Operand operand)
    {
        Value value{0, c_.view().sub(0, 0)};
        if (!problem_.empty()) {
            return value;
        }
        std::optional<std::uint64_t> number;
        switch (operand) {
        case Operand::none:
            return value;
        case Operand::lowDelta:
        case Operand::lowRegister:
            value.number = low_;
            return value;
        case Operand::delta1:
            number = c_.fixed(1);
            break;
        case Operand::delta2:
            number = c_.fixed(2);
            break;
        case Operand::delta4:
            number = c_.fixed(4);
            break;
        case Operand::address:
            number = c_.fixed(cie_.addressSize);
            break;
        case Operand::reg:
        case Operand::offset:
        case Operand::factored:
        case Operand::negated:
            number = c_.uleb();
            break;
        case Operand::signedFactor:
            if (const auto s = c_.sleb()) {
                number = static_cast<std::uint64_t>(*s);
            }
            break;
        case Operand::expression:
            number = c_.uleb();
            if (number && !c_.skip(*number)) {
                problem_ = "its expression runs past the section";
                return value;
            }
            if (number) {
                value.bytes = c_.view().sub(c_.offset() - *number, *number);
            }
            break;
        }
        if (!number) {
            problem_ = c_.failure();
            return value;
        }
        value.number = *number;
        return value;
    }

    void writeOperand(Output& out, Operand operand, const Value& value)
    {
        // The factors multiply in two's complement, as the unwinder does.
        const auto data = static_cast<std::uint64_t>(cie_.dataAlignment);
        switch (operand) {
        case Operand::none:
            return;
        case Operand::lowDelta:
        case Operand::delta1:
        case Operand::delta2:
        case Operand::delta4: {
            const std::uint64_t delta = value.number * cie_.codeAlignment;
            out << ' ' << dec(delta);
            if (location_) {
                *location_ += delta;
                out << " to " << hex(*location_);
            }
            return;
        }
        case Operand::address:
            out << ' ' << hex(value.number);
            if (location_) {
                location_ = value.number;
            }
            return;
        case Operand::lowRegister:
        case Operand::reg:
            out << ' ' << registerName(shape_.machine, value.number);
            return;
        case Operand::offset:
            out << ' ';
            writeSigned(out, static_cast<std::int64_t>(value.number));
            return;
        case Operand::factored:
        case Operand::signedFactor:
            out << ' ';
            writeSigned(out, static_cast<std::int64_t>(value.number * data));
            return;
        case Operand::negated:
            out << ' ';
            writeSigned(out, static_cast<std::int64_t>(0 - value.number * data));
            return;
        case Operand::expression:
            if (value.bytes.size() != 0) {
                out << ' ';
                writeExpression(out, value.bytes, shape_);
            }
            return;
        }
    }

    static constexpr Instruction unknown_{};

    Cursor& c_;
    const Cie& cie_;
    std::optional<std::uint64_t> location_;
    ExpressionShape shape_;
    unsigned low_ = 0;
    std::string_view problem_;
};

class FrameLister {
public:
    FrameLister(const Sections& sections, const Section& section, Output& out)
        : sections_(sections), out_(out), c_(section.view), lookup_(section.view)
    {
    }

    void list()
    {
        while (!c_.atEnd() && !out_.budget().exhausted()) {
            out_.budget().charge(entryCost);
            if (!entry()) {
                return;
            }
        }
    }

private:
    // Lists the entry at the cursor; false when the next one cannot be found.
    bool entry()
    {
        const std::uint64_t start = c_.offset();
        const std::uint64_t fileStart = c_.fileOffset();
        const auto length = c_.initialLength();
        if (!length) {
            report(out_, "entry at 0x" + toHex(start) + ": " + std::string(c_.failure()),
                   fileStart);
            return false;
        }
        out_ << "  " << hex(start) << "  ";
        if (length->length == 0) {
            out_ << "zero length, an entry of padding\n";
            return true;
        }
        // An entry longer than the section is listed as far as the section
        // goes; nothing can be found after it.
        const bool overlong = length->length > c_.remaining();
        const std::uint64_t end = overlong ? c_.view().size() : c_.offset() + length->length;
        const auto id = c_.offsetField(length->offsetSize);
        if (!id) {
            out_ << "entry, length 0x" << hex(length->length, 1) << '\n';
            report(out_, "its CIE id or pointer runs past the section", fileStart);
            return false;
        }
        const bool isCie = *id == (length->offsetSize == 4 ? cieId32 : cieId64);
        out_ << (isCie ? "CIE" : "FDE") << "  length 0x" << hex(length->length, 1);
        if (length->offsetSize == 8) {
            out_ << ", 64-bit DWARF";
        }
        if (overlong) {
            out_ << '\n';
            report(out_, "the entry's length runs past the end of the section", fileStart);
        }
        if (isCie) {
            cie(start, end, overlong);
        } else {
            fde(*id, end, overlong);
        }
        c_.seek(end);
        return !overlong;
    }

    void cie(std::uint64_t start, std::uint64_t end, bool overlong)
    {
        const CieReading reading = readCie(c_, start, sections_.addressSize());
        if (!overlong) {
            out_ << ", ";
        } else {
            out_ << "            ";
        }
        if (!reading.cie) {
            out_ << '\n';
            report(out_, "CIE: " + reading.problem, reading.problemOffset);
            return;
        }
        const Cie& cie = *reading.cie;
        out_ << "version " << dec(cie.version) << ", augmentation \"" << printable(cie.augmentation)
             << "\"\n";
        if (!cie.understood) {
            report(out_, "the augmentation is not understood: its instructions are skipped",
                   c_.view().base() + start);
            return;
        }
        out_ << "            code alignment " << dec(cie.codeAlignment) << ", data alignment ";
        writeSigned(out_, cie.dataAlignment);
        out_ << ", return address column " << dec(cie.returnRegister) << " ("
             << registerName(sections_.machine(), cie.returnRegister) << ')';
        if (cie.version >= 4) {
            out_ << "\n            address size " << dec(cie.addressSize)
                 << ", segment selector size " << dec(cie.segmentSize);
        }
        out_ << '\n';
        InstructionWriter(c_, cie, sections_.machine(), std::nullopt).write(end, out_);
    }

    void fde(std::uint64_t pointer, std::uint64_t end, bool overlong)
    {
        const Cie* cie = findCie(pointer);
        out_ << (overlong ? "            " : ", ") << "CIE 0x" << hex(pointer, 1) << '\n';
        const std::uint64_t fieldsOffset = c_.fileOffset();
        if (cie == nullptr) {
            const CieReading& reading = cieReadings_.at(pointer);
            report(out_,
                   "the CIE pointer 0x" + toHex(pointer) +
                       " names no CIE that can be read: " + reading.problem,
                   fieldsOffset);
        }
        // Without its CIE the FDE's addresses are of the target's size.
        const unsigned addressSize = cie != nullptr ? cie->addressSize : sections_.addressSize();
        const auto segment = cie != nullptr && cie->segmentSize != 0
                                 ? c_.fixed(cie->segmentSize)
                                 : std::optional<std::uint64_t>(0);
        const auto location = segment ? c_.fixed(addressSize) : std::nullopt;
        const auto range = location ? c_.fixed(addressSize) : std::nullopt;
        if (!range || c_.offset() > end) {
            report(out_, "the FDE's address range runs past its end", fieldsOffset);
            return;
        }
        out_ << "            pc " << hex(*location) << ".." << hex(*location + *range)
             << ", range 0x" << hex(*range, 1);
        if (cie != nullptr && cie->segmentSize != 0) {
            out_ << ", segment 0x" << hex(*segment, 1);
        }
        out_ << '\n';
        if (cie == nullptr) {
            return;
        }
        if (!cie->understood) {
            report(out_, "its CIE's augmentation is not understood: its instructions are skipped",
                   fieldsOffset);
            return;
        }
        InstructionWriter(c_, *cie, sections_.machine(), *location).write(end, out_);
    }

    // The CIE at offset, read once; nullptr when there is none there (the
    // reason is kept with it).
    const Cie* findCie(std::uint64_t offset)
    {
        auto found = cieReadings_.find(offset);
        if (found == cieReadings_.end()) {
            if (cieReadings_.size() >= cieCacheLimit) {
                cieReadings_.clear();
            }
            found = cieReadings_.emplace(offset, readCie(lookup_, offset, sections_.addressSize()))
                        .first;
        }
        return found->second.cie ? &*found->second.cie : nullptr;
    }

    const Sections& sections_;
    Output& out_;
    Cursor c_;      // walks the entries
    Cursor lookup_; // reads the CIEs FDEs name
    std::unordered_map<std::uint64_t, CieReading> cieReadings_;
};

} // namespace

void listFrames(const Sections& sections, Output& out, const Options&)
{
    if (const Section* section = sections.find(".debug_frame")) {
        heading(out, ".debug_frame");
        FrameLister(sections, *section, out).list();
    }
}

} // namespace tdump::dwarf
