#include "codeview/records.h"

#include <algorithm>
#include <array>

namespace tdump::codeview {
namespace {

struct NumericKind {
    std::uint16_t leaf;
    std::string_view name;
    std::uint8_t size; // bytes after the leaf
    bool isSigned;
    bool integer;
};

constexpr auto numericKinds = std::to_array<NumericKind>({
    {leaf::charValue, "LF_CHAR", 1, true, true},
    {leaf::shortValue, "LF_SHORT", 2, true, true},
    {leaf::ushortValue, "LF_USHORT", 2, false, true},
    {leaf::longValue, "LF_LONG", 4, true, true},
    {leaf::ulongValue, "LF_ULONG", 4, false, true},
    {leaf::real32, "LF_REAL32", 4, false, false},
    {leaf::real64, "LF_REAL64", 8, false, false},
    {leaf::real80, "LF_REAL80", 10, false, false},
    {leaf::real128, "LF_REAL128", 16, false, false},
    {leaf::quadword, "LF_QUADWORD", 8, true, true},
    {leaf::uquadword, "LF_UQUADWORD", 8, false, true},
    {leaf::real48, "LF_REAL48", 6, false, false},
    {leaf::complex32, "LF_COMPLEX32", 8, false, false},
    {leaf::complex64, "LF_COMPLEX64", 16, false, false},
    {leaf::complex80, "LF_COMPLEX80", 20, false, false},
    {leaf::complex128, "LF_COMPLEX128", 32, false, false},
    {leaf::octword, "LF_OCTWORD", 16, false, false},
    {leaf::uoctword, "LF_UOCTWORD", 16, false, false},
    {leaf::decimal, "LF_DECIMAL", 16, false, false},
    {leaf::date, "LF_DATE", 8, false, false},
    {leaf::real16, "LF_REAL16", 2, false, false},
});

// CV_HREG_e, the registers x86 and x64 code uses.
constexpr auto registerNames = std::to_array<KindName>({
    {1, "AL"},      {2, "CL"},      {3, "DL"},         {4, "BL"},
    {5, "AH"},      {6, "CH"},      {7, "DH"},         {8, "BH"},
    {9, "AX"},      {10, "CX"},     {11, "DX"},        {12, "BX"},
    {13, "SP"},     {14, "BP"},     {15, "SI"},        {16, "DI"},
    {17, "EAX"},    {18, "ECX"},    {19, "EDX"},       {20, "EBX"},
    {21, "ESP"},    {22, "EBP"},    {23, "ESI"},       {24, "EDI"},
    {25, "ES"},     {26, "CS"},     {27, "SS"},        {28, "DS"},
    {29, "FS"},     {30, "GS"},     {31, "IP"},        {32, "FLAGS"},
    {33, "RIP"},    {34, "EFLAGS"}, {128, "ST0"},      {129, "ST1"},
    {130, "ST2"},   {131, "ST3"},   {132, "ST4"},      {133, "ST5"},
    {134, "ST6"},   {135, "ST7"},   {154, "XMM0"},     {155, "XMM1"},
    {156, "XMM2"},  {157, "XMM3"},  {158, "XMM4"},     {159, "XMM5"},
    {160, "XMM6"},  {161, "XMM7"},  {252, "XMM8"},     {253, "XMM9"},
    {254, "XMM10"}, {255, "XMM11"}, {256, "XMM12"},    {257, "XMM13"},
    {258, "XMM14"}, {259, "XMM15"}, {324, "SIL"},      {325, "DIL"},
    {326, "BPL"},   {327, "SPL"},   {328, "RAX"},      {329, "RBX"},
    {330, "RCX"},   {331, "RDX"},   {332, "RSI"},      {333, "RDI"},
    {334, "RBP"},   {335, "RSP"},   {336, "R8"},       {337, "R9"},
    {338, "R10"},   {339, "R11"},   {340, "R12"},      {341, "R13"},
    {342, "R14"},   {343, "R15"},   {360, "R8D"},      {361, "R9D"},
    {362, "R10D"},  {363, "R11D"},  {364, "R12D"},     {365, "R13D"},
    {366, "R14D"},  {367, "R15D"},  {30006, "VFRAME"}, {30007, "ALIGNED_VFRAME"},
});

} // namespace

bool Cursor::need(std::uint64_t count)
{
    if (count <= left()) {
        return true;
    }
    fail("the record ends inside its fields");
    at_ = view_.size();
    return false;
}

void Cursor::fail(std::string what)
{
    if (problem_.empty()) {
        problem_ = std::move(what);
        problemOffset_ = fileOffset();
    }
}

std::uint8_t Cursor::u8()
{
    if (!need(1)) {
        return 0;
    }
    const auto value = view_.u8(at_);
    at_ += 1;
    return value.value_or(0);
}

std::uint16_t Cursor::u16()
{
    if (!need(2)) {
        return 0;
    }
    const auto value = view_.u16(at_);
    at_ += 2;
    return value.value_or(0);
}

std::uint32_t Cursor::u32()
{
    if (!need(4)) {
        return 0;
    }
    const auto value = view_.u32(at_);
    at_ += 4;
    return value.value_or(0);
}

std::uint64_t Cursor::u64()
{
    if (!need(8)) {
        return 0;
    }
    const auto value = view_.u64(at_);
    at_ += 8;
    return value.value_or(0);
}

void Cursor::skip(std::uint64_t count)
{
    if (need(count)) {
        at_ += count;
    }
}

std::string Cursor::name()
{
    if (atEnd()) {
        fail("the record ends before its name");
        return {};
    }
    const auto text = view_.string(at_, maxNameLength);
    if (!text || !text->terminated) {
        fail("the name is not terminated inside its record");
        at_ = view_.size();
        return text ? printable(text->text) : std::string();
    }
    at_ += text->text.size() + 1;
    return printable(text->text);
}

Numeric Cursor::numeric()
{
    const std::uint16_t first = u16();
    if (first < leaf::numeric) {
        return {first, decText(first)};
    }
    if (first == leaf::varstring) {
        const std::uint16_t length = u16();
        skip(length);
        return {0, concat({"LF_VARSTRING (", decText(length), " bytes)"})};
    }
    if (first == leaf::utf8string) {
        return {0, concat({"\"", name(), "\""})};
    }
    const auto* kind = std::find_if(numericKinds.begin(), numericKinds.end(),
                                    [&](const NumericKind& k) { return k.leaf == first; });
    if (kind == numericKinds.end()) {
        fail(concat({"unknown numeric leaf ", hexText(first, 4)}));
        at_ = view_.size();
        return {0, "?"};
    }
    if (!kind->integer) {
        skip(kind->size);
        std::string text(kind->name);
        text += " (";
        text += decText(kind->size);
        text += " bytes)";
        return {0, text};
    }
    std::uint64_t raw = 0;
    switch (kind->size) {
    case 1:
        raw = u8();
        break;
    case 2:
        raw = u16();
        break;
    case 4:
        raw = u32();
        break;
    default:
        raw = u64();
        break;
    }
    if (!kind->isSigned) {
        return {raw, decText(raw)};
    }
    const unsigned bits = 8u * kind->size;
    const std::uint64_t signBit = std::uint64_t{1} << (bits - 1);
    const std::uint64_t extended =
        (raw & signBit) != 0 && bits < 64 ? raw | ~((signBit << 1) - 1) : raw;
    return {extended, signedText(static_cast<std::int64_t>(extended))};
}

void RecordText::add(std::string_view label, std::string value, bool main)
{
    fields_.push_back({std::string(label), std::move(value), main});
}

void RecordText::write(Output& out, std::string_view lead, std::string_view kind,
                       bool verbose) const
{
    std::string line(lead);
    line += kind;
    const auto pad = [&] { line.resize(std::max(line.size() + 2, lead.size() + kindColumn), ' '); };
    if (verbose) {
        if (name_ && !name_->empty()) {
            pad();
            line += *name_;
        }
        out << line << '\n';
        for (const Field& field : fields_) {
            out << std::string(lead.size(), ' ') << "    " << field.label
                << (field.label.empty() ? "" : ": ") << field.value << '\n';
        }
        return;
    }
    bool first = true;
    for (const Field& field : fields_) {
        if (!field.main) {
            continue;
        }
        if (first) {
            pad();
        }
        line += first ? "" : ", ";
        line += field.label;
        line += field.label.empty() ? "" : " ";
        line += field.value;
        first = false;
    }
    if (name_ && !name_->empty()) {
        if (first) {
            pad();
        }
        line += first ? "" : "  ";
        line += *name_;
    }
    out << line << '\n';
}

void walkRecords(View records, Output* out, const std::function<bool(const RawRecord&)>& visit)
{
    std::uint64_t at = 0;
    for (std::size_t n = 0; n < maxRecordsPerRun && at < records.size(); ++n) {
        if (out != nullptr) {
            if (out->budget().exhausted()) {
                return;
            }
            out->budget().charge(entryCost);
        }
        const auto length = records.u16(at + recordHeader::length);
        const auto kind = records.u16(at + recordHeader::kind);
        if (!length || !kind) {
            if (out != nullptr) {
                report(*out, "a record header is cut short by the end of the records",
                       records.base() + at);
            }
            return;
        }
        if (*length < recordHeader::minLength) {
            if (out != nullptr) {
                report(*out, concat({"record length ", decText(*length), " is too short"}),
                       records.base() + at);
            }
            return;
        }
        if (!records.has(at + recordHeader::kind, *length)) {
            if (out != nullptr) {
                report(*out,
                       concat({"record length ", decText(*length),
                               " runs past the end of the records"}),
                       records.base() + at);
            }
            return;
        }
        const RawRecord record{
            at, *kind,
            records.sub(at + recordHeader::size, *length - std::uint64_t{recordHeader::minLength})};
        if (!visit(record)) {
            return;
        }
        at += recordHeader::kind + std::uint64_t{*length};
    }
}

std::optional<std::string_view> lookup(std::span<const KindName> table, std::uint32_t value)
{
    const auto found = std::find_if(table.begin(), table.end(),
                                    [&](const KindName& k) { return k.value == value; });
    if (found == table.end()) {
        return std::nullopt;
    }
    return found->name;
}

std::string lookupOr(std::span<const KindName> table, std::uint32_t value, int digits)
{
    const auto name = lookup(table, value);
    return name ? std::string(*name) : hexText(value, digits);
}

std::string concat(std::initializer_list<std::string_view> pieces)
{
    std::string text;
    for (const std::string_view piece : pieces) {
        text += piece;
    }
    return text;
}

std::string hexText(std::uint64_t value, int digits)
{
    std::string text = "0x";
    text += toHex(value, digits);
    return text;
}

std::string decText(std::uint64_t value)
{
    return std::to_string(value);
}

std::string signedText(std::int64_t value)
{
    return std::to_string(value);
}

std::string flagText(std::span<const Flag> table, std::uint32_t value)
{
    return value == 0 ? std::string("none") : flagNames(value, table, "|");
}

std::span<const Flag> publicSymbolFlags()
{
    static constexpr Flag flags[] = {
        {0x1, "code"},
        {0x2, "function"},
        {0x4, "managed"},
        {0x8, "MSIL"},
    };
    return flags;
}

std::string registerName(std::uint16_t number)
{
    const auto name = lookup(registerNames, number);
    return name ? std::string(*name) : concat({"register ", decText(number)});
}

RelocatedFields::RelocatedFields(std::vector<Field> fields) : fields_(std::move(fields))
{
    std::stable_sort(fields_.begin(), fields_.end(),
                     [](const Field& a, const Field& b) { return a.first < b.first; });
}

std::optional<std::string_view> RelocatedFields::at(std::uint64_t fileOffset) const
{
    const auto found =
        std::lower_bound(fields_.begin(), fields_.end(), fileOffset,
                         [](const Field& field, std::uint64_t at) { return field.first < at; });
    if (found == fields_.end() || found->first != fileOffset) {
        return std::nullopt;
    }
    return found->second;
}

std::string addressText(std::uint16_t section, std::uint32_t offset,
                        std::optional<std::string_view> symbol)
{
    if (symbol) {
        return concat({*symbol, "+", hexText(offset)});
    }
    std::string text = "[";
    text += toHex(section, 4);
    text += ':';
    text += toHex(offset, 8);
    text += ']';
    return text;
}

std::string typeRef(const TypeNames& names, std::uint32_t index, Output& out,
                    std::uint64_t fileOffset)
{
    if (!names.known(index) && names.count() != 0) {
        report(out, concat({"type index ", hexText(index, 4), " is out of range"}), fileOffset);
    }
    return names.name(index);
}

} // namespace tdump::codeview
