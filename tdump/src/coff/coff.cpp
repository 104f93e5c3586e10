#include "coff/coff.h"

#include <algorithm>
#include <array>

#include "codeview/codeview.h"
#include "demangle/demangle.h"
#include "display/file_display.h"
#include "names.h"

namespace tdump {
namespace {

// Far more than any real object has; keeps a forged count from costing memory.
constexpr std::uint32_t maxSections = 65536;
constexpr std::size_t maxNameLength = 4096;

// Section and symbol names of up to eight bytes are kept in place.
constexpr std::size_t shortNameSize = 8;
// The string table opens with its own size; the strings follow.
constexpr std::uint32_t firstStringOffset = 4;

// ANON_OBJECT_HEADER_BIGOBJ, the header of the extended object format.
namespace bigObjHeader {
constexpr std::size_t sig1 = 0;
constexpr std::size_t sig2 = 2;
constexpr std::size_t version = 4;
constexpr std::size_t machine = 6;
constexpr std::size_t timeDateStamp = 8;
constexpr std::size_t classId = 12;
constexpr std::size_t numberOfSections = 44;
constexpr std::size_t pointerToSymbolTable = 48;
constexpr std::size_t numberOfSymbols = 52;
constexpr std::size_t size = 56;
} // namespace bigObjHeader

constexpr std::uint16_t bigObjMinVersion = 2;
// The class identifier of the extended ("bigobj") object format.
constexpr std::array<std::uint8_t, 16> bigObjClassId = {
    0xC7, 0xA1, 0xBA, 0xD1, 0xEE, 0xBA, 0xA9, 0x4B, 0xAF, 0x20, 0xFA, 0xF6, 0x6A, 0xA4, 0xDC, 0xB8};

// IMAGE_SECTION_HEADER
namespace sectionHeader {
constexpr std::size_t name = 0;
constexpr std::size_t virtualSize = 8;
constexpr std::size_t virtualAddress = 12;
constexpr std::size_t sizeOfRawData = 16;
constexpr std::size_t pointerToRawData = 20;
constexpr std::size_t pointerToRelocations = 24;
constexpr std::size_t pointerToLinenumbers = 28;
constexpr std::size_t numberOfRelocations = 32;
constexpr std::size_t numberOfLinenumbers = 34;
constexpr std::size_t characteristics = 36;
constexpr std::size_t size = 40;
} // namespace sectionHeader

// IMAGE_SCN_LNK_NRELOC_OVFL: the relocation count, 0xFFFF in the header, is
// in the first relocation record.
constexpr std::uint32_t sectionRelocationsOverflow = 0x01000000;
constexpr std::uint16_t relocationCountOverflow = 0xFFFF;

// IMAGE_RELOCATION
namespace relocation {
constexpr std::size_t virtualAddress = 0;
constexpr std::size_t symbolTableIndex = 4;
constexpr std::size_t type = 8;
constexpr std::size_t size = 10;
} // namespace relocation

// IMAGE_LINENUMBER: a symbol table index where the line number is 0, an
// address otherwise.
namespace lineNumber {
constexpr std::size_t symbolTableIndexOrVirtualAddress = 0;
constexpr std::size_t linenumber = 4;
constexpr std::size_t size = 6;
} // namespace lineNumber

// The special section numbers of a symbol.
constexpr std::int32_t symbolUndefined = 0;
constexpr std::int32_t symbolAbsolute = -1;
constexpr std::int32_t symbolDebug = -2;
// The storage classes of .bf/.ef symbols and of weak externals.
constexpr std::uint8_t storageClassFunction = 101;
constexpr std::uint8_t storageClassWeakExternal = 105;
// The derived type of a function symbol, in bits 4 and 5 of its type.
constexpr std::uint16_t derivedTypeFunction = 2;

// The auxiliary records, in the layout IMAGE_AUX_SYMBOL gives them: a
// function definition's, a .bf/.ef symbol's, a weak external's and a
// section definition's.
namespace auxFunctionDefinition {
constexpr std::size_t tagIndex = 0;
constexpr std::size_t totalSize = 4;
constexpr std::size_t pointerToLinenumber = 8;
constexpr std::size_t pointerToNextFunction = 12;
} // namespace auxFunctionDefinition
namespace auxFunctionLines {
constexpr std::size_t linenumber = 4;
} // namespace auxFunctionLines
namespace auxWeakExternal {
constexpr std::size_t tagIndex = 0;
constexpr std::size_t characteristics = 4;
} // namespace auxWeakExternal
namespace auxSectionDefinition {
constexpr std::size_t length = 0;
constexpr std::size_t numberOfRelocations = 4;
constexpr std::size_t numberOfLinenumbers = 6;
constexpr std::size_t checkSum = 8;
constexpr std::size_t number = 12;
constexpr std::size_t selection = 14;
constexpr std::size_t highNumber = 16; // the extended object format only
} // namespace auxSectionDefinition
// A file symbol's auxiliary record holding a long name: the zero marker and
// the string table offset.
namespace auxFile {
constexpr std::size_t zeroes = 0;
constexpr std::size_t stringOffset = 4;
} // namespace auxFile
// IMAGE_COMDAT_SELECT_ASSOCIATIVE: the section goes with another one.
constexpr std::uint8_t comdatSelectAssociative = 5;

// A CodeView section (.debug$S, .debug$T, .debug$P) opens with its
// signature; the subsections or the type records follow.
constexpr std::uint32_t codeViewSignatureSize = 4;

std::string fixedName(const std::uint8_t* raw, std::size_t size)
{
    const auto* end = std::find(raw, raw + size, std::uint8_t{0});
    return printable(
        std::string_view(reinterpret_cast<const char*>(raw), static_cast<std::size_t>(end - raw)));
}

// Offsets past 9,999,999 into the string table are written "//" and six
// base-64 digits.
std::optional<std::uint32_t> base64Offset(std::string_view digits)
{
    std::uint64_t value = 0;
    for (const char c : digits) {
        unsigned digit = 0;
        if (c >= 'A' && c <= 'Z') {
            digit = static_cast<unsigned>(c - 'A');
        } else if (c >= 'a' && c <= 'z') {
            digit = static_cast<unsigned>(c - 'a') + 26;
        } else if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0') + 52;
        } else if (c == '+') {
            digit = 62;
        } else if (c == '/') {
            digit = 63;
        } else {
            return std::nullopt;
        }
        value = value * 64 + digit;
    }
    if (digits.empty() || value > 0xFFFFFFFFu) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::optional<std::uint32_t> decimalOffset(std::string_view digits)
{
    std::uint64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 0xFFFFFFFFu) {
            return std::nullopt;
        }
    }
    if (digits.empty()) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::string symbolTypeText(std::uint16_t type)
{
    static constexpr std::array<std::string_view, 4> complex = {"", "pointer", "function", "array"};
    return std::string(complex[(type >> 4) & 3]);
}

} // namespace

std::optional<CoffHeader> readCoffHeader(View view, std::uint64_t offset)
{
    std::array<std::uint8_t, fileHeader::size> raw{};
    if (!view.read(offset, raw)) {
        return std::nullopt;
    }
    CoffHeader h;
    h.machine = le16(&raw[fileHeader::machine]);
    h.sectionCount = le16(&raw[fileHeader::numberOfSections]);
    h.timeDateStamp = le32(&raw[fileHeader::timeDateStamp]);
    h.symbolTableOffset = le32(&raw[fileHeader::pointerToSymbolTable]);
    h.symbolCount = le32(&raw[fileHeader::numberOfSymbols]);
    h.optionalHeaderSize = le16(&raw[fileHeader::sizeOfOptionalHeader]);
    h.characteristics = le16(&raw[fileHeader::characteristics]);
    h.headerOffset = offset;
    h.sectionTableOffset = offset + raw.size() + h.optionalHeaderSize;
    return h;
}

std::optional<CoffHeader> readBigObjHeader(View view)
{
    std::array<std::uint8_t, bigObjHeader::size> raw{};
    if (!view.read(0, raw) || le16(&raw[bigObjHeader::sig1]) != headerSig1 ||
        le16(&raw[bigObjHeader::sig2]) != headerSig2 ||
        le16(&raw[bigObjHeader::version]) < bigObjMinVersion ||
        !std::equal(bigObjClassId.begin(), bigObjClassId.end(),
                    raw.begin() + bigObjHeader::classId)) {
        return std::nullopt;
    }
    CoffHeader h;
    h.bigobj = true;
    h.machine = le16(&raw[bigObjHeader::machine]);
    h.timeDateStamp = le32(&raw[bigObjHeader::timeDateStamp]);
    h.sectionCount = le32(&raw[bigObjHeader::numberOfSections]);
    h.symbolTableOffset = le32(&raw[bigObjHeader::pointerToSymbolTable]);
    h.symbolCount = le32(&raw[bigObjHeader::numberOfSymbols]);
    h.sectionTableOffset = raw.size();
    return h;
}

bool looksLikeCoffObject(View view)
{
    const auto h = readCoffHeader(view, 0);
    return h && h->machine != 0 && isKnownMachine(h->machine) && h->optionalHeaderSize == 0 &&
           view.has(h->sectionTableOffset, std::uint64_t{h->sectionCount} * sectionHeader::size);
}

std::optional<CoffFile> openCoffObject(View view)
{
    auto header = readBigObjHeader(view);
    if (!header && looksLikeCoffObject(view)) {
        header = readCoffHeader(view, 0);
    }
    if (!header) {
        return std::nullopt;
    }
    return CoffFile(view, *header);
}

CoffFile::CoffFile(View view, const CoffHeader& header) : view_(view), header_(header)
{
    // The string table follows the symbol table; long section names need it,
    // so it is located first.
    if (header_.symbolTableOffset != 0) {
        stringTableOffset_ = symbolOffset(header_.symbolCount);
        const auto size = view_.u32(stringTableOffset_);
        if (!view_.has(header_.symbolTableOffset, 0)) {
            problems_.push_back({"the symbol table offset " +
                                     std::to_string(header_.symbolTableOffset) +
                                     " lies past the end of the file",
                                 view_.base() + header_.headerOffset +
                                     (header_.bigobj ? bigObjHeader::pointerToSymbolTable
                                                     : fileHeader::pointerToSymbolTable)});
        } else if (!size) {
            problems_.push_back(
                {"the string table after the symbol table is missing (the symbol table "
                 "runs past the end of the file)",
                 view_.base() + std::min(stringTableOffset_, view_.size())});
        } else if (*size < firstStringOffset || !view_.has(stringTableOffset_, *size)) {
            problems_.push_back(
                {"the string table size " + std::to_string(*size) +
                     " does not fit the file; strings are read up to the end of the file",
                 view_.base() + stringTableOffset_});
            stringTableSize_ = static_cast<std::uint32_t>(
                std::min<std::uint64_t>(view_.size() - stringTableOffset_, 0xFFFFFFFFu));
        } else {
            stringTableSize_ = *size;
        }
    }
    std::uint32_t count = header_.sectionCount;
    if (count > maxSections) {
        problems_.push_back({"the section count " + std::to_string(count) +
                                 " is beyond the limit of " + std::to_string(maxSections) +
                                 "; only that many are read",
                             view_.base() + header_.headerOffset});
        count = maxSections;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t at =
            header_.sectionTableOffset + std::uint64_t{i} * sectionHeader::size;
        std::array<std::uint8_t, sectionHeader::size> raw{};
        if (!view_.read(at, raw)) {
            problems_.push_back(
                {"the section table is truncated: section " + std::to_string(i + 1) + " of " +
                     std::to_string(header_.sectionCount) + " lies past the end of the file",
                 view_.base() + std::min(at, view_.size())});
            break;
        }
        SectionHeader s;
        s.name = sectionName(&raw[sectionHeader::name]);
        s.virtualSize = le32(&raw[sectionHeader::virtualSize]);
        s.virtualAddress = le32(&raw[sectionHeader::virtualAddress]);
        s.rawSize = le32(&raw[sectionHeader::sizeOfRawData]);
        s.rawPointer = le32(&raw[sectionHeader::pointerToRawData]);
        s.relocPointer = le32(&raw[sectionHeader::pointerToRelocations]);
        s.linePointer = le32(&raw[sectionHeader::pointerToLinenumbers]);
        s.relocCount = le16(&raw[sectionHeader::numberOfRelocations]);
        s.lineCount = le16(&raw[sectionHeader::numberOfLinenumbers]);
        s.characteristics = le32(&raw[sectionHeader::characteristics]);
        s.headerOffset = at;
        sections_.push_back(std::move(s));
    }
}

std::uint64_t CoffFile::symbolOffset(std::uint32_t index) const
{
    return std::uint64_t{header_.symbolTableOffset} +
           std::uint64_t{index} * header_.symbolRecordSize();
}

std::optional<std::string> CoffFile::stringAt(std::uint32_t offset) const
{
    if (offset < firstStringOffset || offset >= stringTableSize_) {
        return std::nullopt;
    }
    const auto text = view_.sub(stringTableOffset_, stringTableSize_).string(offset, maxNameLength);
    if (!text) {
        return std::nullopt;
    }
    return printable(text->text);
}

std::string CoffFile::sectionName(const std::uint8_t* raw) const
{
    std::string name = fixedName(raw, shortNameSize);
    if (name.size() < 2 || name[0] != '/') {
        return name;
    }
    const auto offset = name[1] == '/' ? base64Offset(std::string_view(name).substr(2))
                                       : decimalOffset(std::string_view(name).substr(1));
    if (!offset) {
        return name;
    }
    const auto text = stringAt(*offset);
    return text ? *text : name + " (string table offset out of range)";
}

std::string CoffFile::sectionLabel(std::int32_t number) const
{
    switch (number) {
    case symbolUndefined:
        return "UNDEF";
    case symbolAbsolute:
        return "ABS";
    case symbolDebug:
        return "DEBUG";
    default:
        break;
    }
    if (number > 0 && static_cast<std::uint32_t>(number) <= sections_.size()) {
        return std::to_string(number) + " " + sections_[static_cast<std::size_t>(number - 1)].name;
    }
    return std::to_string(number) + " (no such section)";
}

std::optional<CoffFile::Symbol> CoffFile::readSymbol(std::uint32_t index) const
{
    std::array<std::uint8_t, symbolRecordEx::size> raw{};
    if (header_.symbolTableOffset == 0 || index >= header_.symbolCount ||
        !view_.read(symbolOffset(index), std::span(raw.data(), header_.symbolRecordSize()))) {
        return std::nullopt;
    }
    Symbol s;
    if (le32(&raw[symbolRecord::zeroes]) == 0) {
        const std::uint32_t offset = le32(&raw[symbolRecord::offset]);
        const auto text = stringAt(offset);
        s.name = text ? *text
                      : "(name at string table offset " + std::to_string(offset) + " out of range)";
    } else {
        s.name = fixedName(&raw[symbolRecord::shortName], shortNameSize);
    }
    s.value = le32(&raw[symbolRecord::value]);
    if (header_.bigobj) {
        s.section = static_cast<std::int32_t>(le32(&raw[symbolRecordEx::sectionNumber]));
        s.type = le16(&raw[symbolRecordEx::type]);
        s.storageClass = raw[symbolRecordEx::storageClass];
        s.auxCount = raw[symbolRecordEx::numberOfAuxSymbols];
    } else {
        s.section = static_cast<std::int16_t>(le16(&raw[symbolRecord::sectionNumber]));
        s.type = le16(&raw[symbolRecord::type]);
        s.storageClass = raw[symbolRecord::storageClass];
        s.auxCount = raw[symbolRecord::numberOfAuxSymbols];
    }
    return s;
}

std::optional<std::string> CoffFile::symbolName(std::uint32_t index) const
{
    const auto symbol = readSymbol(index);
    if (!symbol) {
        return std::nullopt;
    }
    return symbol->name;
}

void CoffFile::listFileHeader(Output& out, const Options& options) const
{
    heading(out, header_.bigobj ? "COFF file header (extended object format)" : "COFF file header");
    const std::uint64_t at = view_.base() + header_.headerOffset;
    label(out, "File offset") << "0x" << hex(at, 1) << '\n';
    label(out, "Machine") << hex(header_.machine, 4) << "  " << machineName(header_.machine)
                          << '\n';
    label(out, "Number of sections") << dec(header_.sectionCount) << '\n';
    label(out, "Time stamp") << hex(header_.timeDateStamp) << "  "
                             << timeText(header_.timeDateStamp) << '\n';
    label(out, "Symbol table offset") << hex(header_.symbolTableOffset) << '\n';
    label(out, "Number of symbols") << dec(header_.symbolCount) << '\n';
    if (!header_.bigobj) {
        label(out, "Optional header size") << dec(header_.optionalHeaderSize) << '\n';
        label(out, "Characteristics")
            << hex(header_.characteristics, 4) << "  "
            << flagNames(header_.characteristics, fileCharacteristicFlags()) << '\n';
    }
    if (options.verbose() && stringTableSize_ != 0) {
        label(out, "String table") << dec(stringTableSize_) << " bytes at file offset 0x"
                                   << hex(view_.base() + stringTableOffset_, 1) << '\n';
    }
}

void CoffFile::listSections(Output& out, const Options& options, SectionDetail detail) const
{
    const bool detailed = detail == SectionDetail::WithRelocationsAndLines;
    const bool relocations = detailed && !options.has(Switch::NoRelocs);
    const bool lineNumbers = detailed && !options.has(Switch::NoLines);
    heading(out, "Section table");
    for (const Problem& p : problems_) {
        report(out, p.what, p.fileOffset);
    }
    // Long names (".debug_info") widen the name column for every row.
    std::size_t nameWidth = 8;
    for (const SectionHeader& s : sections_) {
        nameWidth = std::clamp(s.name.size(), nameWidth, std::size_t{24});
    }
    out << "  #     " << column("Name", nameWidth)
        << "  VirtSize  VirtAddr  RawSize   RawPtr    RelocPtr  LinePtr   Relocs Lines  Flags\n";
    std::size_t number = 0;
    for (const SectionHeader& s : sections_) {
        ++number;
        if (out.budget().exhausted()) {
            return;
        }
        if (!options.sectionSelected(s.name) ||
            (options.has(Switch::NoDebug) && s.name.starts_with(".debug"))) {
            continue;
        }
        out << "  " << dec(number, 4) << "  " << column(s.name, nameWidth) << "  "
            << hex(s.virtualSize) << "  " << hex(s.virtualAddress) << "  " << hex(s.rawSize) << "  "
            << hex(s.rawPointer) << "  " << hex(s.relocPointer) << "  " << hex(s.linePointer)
            << "  " << dec(s.relocCount, 6) << ' ' << dec(s.lineCount, 5) << "  "
            << hex(s.characteristics) << ' ' << sectionSummary(s.characteristics) << '\n';
        if (options.verbose()) {
            out << "        " << flagNames(s.characteristics, sectionFlags()) << '\n';
        }
        if (s.rawSize != 0 && s.rawPointer != 0 && !view_.has(s.rawPointer, s.rawSize)) {
            report(out,
                   "the contents of section " + s.name + " lie (partly) past the end of the file",
                   view_.base() + s.headerOffset + sectionHeader::sizeOfRawData);
        }
        if (relocations && s.relocCount != 0) {
            listSectionRelocations(out, options, s);
        }
        if (lineNumbers && s.lineCount != 0) {
            listSectionLines(out, options, s);
        }
    }
}

std::optional<std::pair<std::uint64_t, std::uint64_t>>
CoffFile::relocationRecords(const SectionHeader& section) const
{
    // With more than 65,534 relocations the count moves into the first record.
    if ((section.characteristics & sectionRelocationsOverflow) != 0 &&
        section.relocCount == relocationCountOverflow) {
        const auto real = view_.u32(section.relocPointer);
        if (!real) {
            return std::nullopt;
        }
        return std::pair<std::uint64_t, std::uint64_t>{1, *real};
    }
    return std::pair<std::uint64_t, std::uint64_t>{0, section.relocCount};
}

void CoffFile::listSectionRelocations(Output& out, const Options& options,
                                      const SectionHeader& section) const
{
    const auto records = relocationRecords(section);
    if (!records) {
        report(out,
               "the relocation count record of section " + section.name +
                   " lies past the end of the file",
               view_.base() + section.relocPointer);
        return;
    }
    const auto [first, count] = *records;
    out << "    Relocations of " << section.name << ": " << dec(count - first) << '\n';
    out << "      Offset    Type                      Symbol\n";
    for (std::uint64_t i = first; i < count && !out.budget().exhausted(); ++i) {
        out.budget().charge(entryCost);
        const std::uint64_t at = section.relocPointer + i * relocation::size;
        std::array<std::uint8_t, relocation::size> raw{};
        if (!view_.read(at, raw)) {
            report(out,
                   "the relocations of " + section.name + " are truncated: record " +
                       std::to_string(i) + " of " + std::to_string(count) +
                       " lies past the end of the file",
                   view_.base() + std::min(at, view_.size()));
            return;
        }
        const std::uint32_t symbolIndex = le32(&raw[relocation::symbolTableIndex]);
        const std::uint16_t type = le16(&raw[relocation::type]);
        const auto name = symbolName(symbolIndex);
        out << "      " << hex(le32(&raw[relocation::virtualAddress])) << "  " << hex(type, 4)
            << ' ' << column(relocationTypeName(header_.machine, type), 20) << "["
            << dec(symbolIndex, 5) << "] "
            << (name ? displayName(*name, options.demangle())
                     : std::string("** symbol index out of range"))
            << '\n';
    }
}

void CoffFile::listSectionLines(Output& out, const Options& options,
                                const SectionHeader& section) const
{
    if (options.has(Switch::NoLines)) {
        return;
    }
    out << "    Line numbers of " << section.name << ": " << dec(section.lineCount) << '\n';
    for (std::uint32_t i = 0; i < section.lineCount && !out.budget().exhausted(); ++i) {
        out.budget().charge(entryCost);
        const std::uint64_t at = section.linePointer + std::uint64_t{i} * lineNumber::size;
        std::array<std::uint8_t, lineNumber::size> raw{};
        if (!view_.read(at, raw)) {
            report(out, "the line numbers of " + section.name + " are truncated",
                   view_.base() + std::min(at, view_.size()));
            return;
        }
        const std::uint32_t where = le32(&raw[lineNumber::symbolTableIndexOrVirtualAddress]);
        const std::uint16_t line = le16(&raw[lineNumber::linenumber]);
        if (line == 0) {
            const auto name = symbolName(where);
            out << "      function [" << dec(where) << "] "
                << (name ? displayName(*name, options.demangle())
                         : std::string("** symbol index out of range"))
                << '\n';
        } else {
            out << "      line " << dec(line, 5) << " at " << hex(where) << '\n';
        }
    }
}

void CoffFile::listRelocations(Output& out, const Options& options) const
{
    heading(out, "Relocations");
    for (const Problem& p : problems_) {
        report(out, p.what, p.fileOffset);
    }
    std::size_t shown = 0;
    for (const SectionHeader& s : sections_) {
        if (out.budget().exhausted()) {
            return;
        }
        if (s.relocCount != 0 && options.sectionSelected(s.name)) {
            listSectionRelocations(out, options, s);
            ++shown;
        }
    }
    if (shown == 0) {
        out << "  (no section has relocations)\n";
    }
}

void CoffFile::listSymbols(Output& out, const Options& options) const
{
    heading(out, "Symbol table");
    if (header_.symbolTableOffset == 0 || header_.symbolCount == 0) {
        out << "  (no symbol table)\n";
        return;
    }
    out << "  " << dec(header_.symbolCount) << " records at file offset 0x"
        << hex(view_.base() + header_.symbolTableOffset, 1) << '\n';
    out << "  Index     Value     Section               Type  Class                 Aux  Name\n";
    for (std::uint32_t i = 0; i < header_.symbolCount && !out.budget().exhausted();) {
        const auto symbol = readSymbol(i);
        if (!symbol) {
            report(out,
                   "the symbol table is truncated: record " + std::to_string(i) + " of " +
                       std::to_string(header_.symbolCount) + " lies past the end of the file",
                   view_.base() + std::min(symbolOffset(i), view_.size()));
            return;
        }
        out << "  [" << dec(i, 6) << "]  " << hex(symbol->value) << "  "
            << column(sectionLabel(symbol->section), 20) << "  " << hex(symbol->type, 4) << "  "
            << dec(symbol->storageClass, 3) << ' '
            << column(storageClassName(symbol->storageClass), 17) << ' ' << dec(symbol->auxCount, 3)
            << "  " << displayName(symbol->name, options.demangle());
        const std::string type = symbolTypeText(symbol->type);
        if (!type.empty() && options.verbose()) {
            out << "  (" << type << ')';
        }
        out << '\n';
        listAux(out, options, *symbol, i);
        i += 1;
        if (symbol->auxCount > header_.symbolCount - i) {
            report(out,
                   "symbol " + std::to_string(i - 1) +
                       " claims more auxiliary records than the table has",
                   view_.base() + symbolOffset(i - 1) + header_.symbolRecordSize() - 1);
            return;
        }
        i += symbol->auxCount;
    }
}

void CoffFile::listAux(Output& out, const Options& options, const Symbol& symbol,
                       std::uint32_t index) const
{
    if (symbol.auxCount == 0) {
        return;
    }
    const std::uint32_t size = header_.symbolRecordSize();
    std::vector<std::uint8_t> aux(std::size_t{symbol.auxCount} * size);
    if (!view_.read(symbolOffset(index + 1), aux)) {
        return; // the caller reports the truncated table
    }
    const std::uint8_t* a = aux.data();
    out << "             ";
    if (symbol.storageClass == storageClassFile) { // the name fills the auxiliary records
        // GNU tools put a long name in the string table and write the record
        // as a symbol name is written: four zero bytes, then the offset.
        const std::uint32_t stringOffset = le32(&a[auxFile::stringOffset]);
        if (le32(&a[auxFile::zeroes]) == 0 && stringOffset != 0) {
            const auto name = stringAt(stringOffset);
            out << "file name: " << name.value_or("") << '\n';
            if (!name) {
                report(out,
                       "the file name's string table offset " + std::to_string(stringOffset) +
                           " is out of range",
                       view_.base() + symbolOffset(index + 1) + auxFile::stringOffset);
            }
        } else {
            out << "file name: " << fixedName(a, aux.size()) << '\n';
        }
    } else if (symbol.storageClass == storageClassStatic && symbol.value == 0 &&
               symbol.section > 0) {
        const std::uint32_t number =
            le16(&a[auxSectionDefinition::number]) |
            (header_.bigobj ? std::uint32_t{le16(&a[auxSectionDefinition::highNumber])} << 16 : 0u);
        const std::uint8_t selection = a[auxSectionDefinition::selection];
        out << "section definition: length 0x" << hex(le32(&a[auxSectionDefinition::length]), 1)
            << ", " << dec(le16(&a[auxSectionDefinition::numberOfRelocations])) << " relocations, "
            << dec(le16(&a[auxSectionDefinition::numberOfLinenumbers]))
            << " line numbers, checksum " << hex(le32(&a[auxSectionDefinition::checkSum]));
        if (selection != 0) {
            out << ", COMDAT " << comdatSelectionName(selection);
            if (selection == comdatSelectAssociative) {
                out << " with section " << dec(number);
            }
        }
        out << '\n';
    } else if (symbol.storageClass == storageClassWeakExternal ||
               (symbol.storageClass == storageClassExternal && symbol.section == symbolUndefined &&
                symbol.value == 0)) {
        static constexpr std::array<std::string_view, 5> kinds = {
            "", "no library search", "library search", "alias", "anti-dependency"};
        const std::uint32_t kind = le32(&a[auxWeakExternal::characteristics]);
        out << "weak external: default symbol [" << dec(le32(&a[auxWeakExternal::tagIndex]))
            << "], "
            << (kind < kinds.size() && kind != 0 ? kinds[kind]
                                                 : std::string_view("unrecognised kind"))
            << '\n';
    } else if (symbol.storageClass == storageClassExternal &&
               ((symbol.type >> 4) & 3) == derivedTypeFunction) {
        out << "function definition: tag [" << dec(le32(&a[auxFunctionDefinition::tagIndex]))
            << "], size 0x" << hex(le32(&a[auxFunctionDefinition::totalSize]), 1)
            << ", line numbers at " << hex(le32(&a[auxFunctionDefinition::pointerToLinenumber]))
            << ", next function [" << dec(le32(&a[auxFunctionDefinition::pointerToNextFunction]))
            << "]\n";
    } else if (symbol.storageClass == storageClassFunction) {
        out << "line " << dec(le16(&a[auxFunctionLines::linenumber])) << '\n';
    } else {
        out << dec(symbol.auxCount) << " auxiliary record(s)\n";
    }
    if (options.verbose()) {
        for (std::size_t i = 0; i < aux.size(); ++i) {
            out << (i % size == 0 ? "             raw:" : "") << ' ' << hex(aux[i], 2)
                << ((i + 1) % size == 0 ? "\n" : "");
        }
    }
}

void CoffFile::listRawContents(Output& out, const Options& options) const
{
    heading(out, "Section contents");
    std::size_t number = 0;
    for (const SectionHeader& s : sections_) {
        ++number;
        if (out.budget().exhausted()) {
            return;
        }
        if (!options.sectionSelected(s.name)) {
            continue;
        }
        out << "\n  Section " << dec(number) << " " << s.name << ": " << dec(s.rawSize)
            << " bytes at file offset 0x" << hex(view_.base() + s.rawPointer, 1) << '\n';
        if (s.rawSize == 0 || s.rawPointer == 0) {
            out << "  (no contents in the file)\n";
            continue;
        }
        if (!view_.has(s.rawPointer, s.rawSize)) {
            report(out, "the contents lie (partly) past the end of the file; shown up to the end",
                   view_.base() + s.headerOffset + sectionHeader::sizeOfRawData);
        }
        hexDisplay(view_, s.rawPointer, std::uint64_t{s.rawPointer} + s.rawSize, out);
    }
}

void CoffFile::listChecksums(Output& out, const Options& options) const
{
    heading(out, "Section checksums");
    std::size_t checked = 0;
    // The section definition symbols carry the checksums: static, value 0,
    // an auxiliary record, naming the section by number.
    std::vector<std::optional<std::uint32_t>> stored(sections_.size());
    for (std::uint32_t i = 0; i < header_.symbolCount && !out.budget().exhausted();) {
        out.budget().charge(entryCost);
        const auto symbol = readSymbol(i);
        if (!symbol) {
            break;
        }
        if (symbol->storageClass == storageClassStatic && symbol->auxCount >= 1 &&
            symbol->value == 0 && symbol->section > 0 &&
            static_cast<std::size_t>(symbol->section) <= sections_.size()) {
            std::array<std::uint8_t, symbolRecordEx::size> aux{};
            if (view_.read(symbolOffset(i + 1),
                           std::span(aux.data(), header_.symbolRecordSize()))) {
                auto& slot = stored[static_cast<std::size_t>(symbol->section - 1)];
                if (!slot) {
                    slot = le32(&aux[auxSectionDefinition::checkSum]);
                }
            }
        }
        const std::uint64_t next = std::uint64_t{i} + 1 + symbol->auxCount;
        if (next > header_.symbolCount) {
            break;
        }
        i = static_cast<std::uint32_t>(next);
    }
    for (std::size_t n = 0; n < sections_.size() && !out.budget().exhausted(); ++n) {
        const SectionHeader& s = sections_[n];
        if (!options.sectionSelected(s.name) || !stored[n] || *stored[n] == 0) {
            continue;
        }
        out.budget().charge(s.rawSize);
        ++checked;
        out << "  " << dec(n + 1, 4) << "  " << column(s.name, 12) << "stored " << hex(*stored[n]);
        if (!view_.has(s.rawPointer, s.rawSize)) {
            out << "  ** contents past the end of the file\n";
            continue;
        }
        const std::uint32_t actual = sectionCrc(view_, s.rawPointer, s.rawSize);
        out << "  computed " << hex(actual) << (actual == *stored[n] ? "  ok" : "  ** MISMATCH")
            << '\n';
    }
    if (checked == 0) {
        out << "  (no section carries a checksum)\n";
    }
}

std::vector<CoffFile::RelocatedField> CoffFile::relocatedSymbols(Output& out,
                                                                 const SectionHeader& section) const
{
    const auto records = relocationRecords(section);
    if (!records) {
        return {};
    }
    // Relocated fields do not overlap, so a section has no more of them
    // than bytes; the listing of the section reports a damaged table.
    const auto [first, count] = *records;
    const std::uint64_t end = first + std::min<std::uint64_t>(count - first, section.rawSize);
    std::vector<RelocatedField> fields;
    for (std::uint64_t i = first; i < end && !out.budget().exhausted(); ++i) {
        out.budget().charge(entryCost);
        std::array<std::uint8_t, relocation::size> raw{};
        if (!view_.read(section.relocPointer + i * relocation::size, raw)) {
            break;
        }
        fields.push_back(
            {le32(&raw[relocation::virtualAddress]), le32(&raw[relocation::symbolTableIndex])});
    }
    return fields;
}

codeview::RelocatedFields CoffFile::relocatedFields(Output& out, const SectionHeader& section) const
{
    // The symbols are linker symbols, so they are shown as stored.
    std::vector<codeview::RelocatedFields::Field> fields;
    for (const RelocatedField& field : relocatedSymbols(out, section)) {
        if (const auto name = symbolName(field.symbol)) {
            fields.emplace_back(view_.base() + section.rawPointer + field.offset, printable(*name));
        }
    }
    return codeview::RelocatedFields(std::move(fields));
}

void CoffFile::listDebugSections(Output& out, const Options& options) const
{
    heading(out, "Debug sections");
    // The type records of .debug$T name the references of every .debug$S;
    // the one .debug$S with the file checksums and the string table names
    // the files of the line tables in all of them.
    codeview::TypeNames types;
    codeview::FileTables files;
    for (const SectionHeader& s : sections_) {
        if (!view_.has(s.rawPointer, s.rawSize) || s.rawSize < codeViewSignatureSize ||
            out.budget().exhausted()) {
            continue;
        }
        // A scan costs what a display of the bytes would.
        out.budget().charge(s.rawSize);
        const View records = view_.sub(std::uint64_t{s.rawPointer} + codeViewSignatureSize,
                                       s.rawSize - codeViewSignatureSize);
        if (s.name == ".debug$T" && types.count() == 0) {
            types = codeview::TypeNames::read(records, codeview::firstTypeIndex);
        } else if (s.name == ".debug$S" && !(files.checksums && files.strings)) {
            codeview::findFileTables(records, files);
        }
    }
    std::size_t shown = 0;
    std::size_t number = 0;
    for (const SectionHeader& s : sections_) {
        ++number;
        if (out.budget().exhausted()) {
            return;
        }
        if (!s.name.starts_with(".debug") || !options.sectionSelected(s.name)) {
            continue;
        }
        ++shown;
        out << "  " << dec(number, 4) << "  " << column(s.name, 16) << dec(s.rawSize, 10)
            << " bytes";
        const bool codeView = s.name == ".debug$S" || s.name == ".debug$T" || s.name == ".debug$P";
        if (!codeView) {
            out << '\n';
            continue;
        }
        const auto signature = view_.u32(s.rawPointer);
        if (!signature || !view_.has(s.rawPointer, s.rawSize)) {
            out << '\n';
            report(out, "the contents lie past the end of the file",
                   view_.base() + s.headerOffset + sectionHeader::sizeOfRawData);
            continue;
        }
        if (s.rawSize < codeViewSignatureSize) {
            out << '\n';
            report(out, "the section is too short for its CodeView signature",
                   view_.base() + s.headerOffset + sectionHeader::sizeOfRawData);
            continue;
        }
        out << ", CodeView signature " << dec(*signature) << '\n';
        const View records = view_.sub(std::uint64_t{s.rawPointer} + codeViewSignatureSize,
                                       s.rawSize - codeViewSignatureSize);
        if (s.name == ".debug$S") {
            codeview::listSubsections(records, out, options, types, types, files,
                                      relocatedFields(out, s));
        } else if (options.debugTableSelected(
                       s.name == ".debug$T" ? DebugTable::Types : DebugTable::PrecompiledTypes)) {
            codeview::listTypes(records, codeview::firstTypeIndex, out, options, types);
        }
    }
    if (shown == 0) {
        out << "  (no debug sections)\n";
    }
    const dwarf::Sections dwarfs = dwarfSections(std::nullopt);
    if (!dwarfs.all().empty()) {
        dwarf::list(dwarfs, out, options);
    }
}

dwarf::Sections CoffFile::dwarfSections(std::optional<std::uint64_t> imageBase) const
{
    std::vector<dwarf::Section> found;
    for (const SectionHeader& s : sections_) {
        if (!dwarf::isDwarfSectionName(s.name)) {
            continue;
        }
        // An image's raw data is padded to the file alignment; what is
        // loaded is the virtual size.
        std::uint64_t size = s.rawSize;
        if (imageBase && s.virtualSize != 0) {
            size = std::min<std::uint64_t>(size, s.virtualSize);
        }
        found.push_back(
            {s.name, view_.sub(s.rawPointer, size), imageBase ? *imageBase + s.virtualAddress : 0});
    }
    return dwarf::Sections(std::move(found), header_.machine);
}

std::uint32_t sectionCrc(View view, std::uint64_t offset, std::uint32_t size)
{
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0;
    std::array<std::uint8_t, 4096> chunk{};
    for (std::uint64_t done = 0; done < size;) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), size - done));
        if (!view.read(offset + done, std::span(chunk.data(), n))) {
            break;
        }
        for (std::size_t i = 0; i < n; ++i) {
            crc = table[(crc ^ chunk[i]) & 0xFF] ^ (crc >> 8);
        }
        done += n;
    }
    return crc;
}

std::string timeText(std::uint32_t seconds)
{
    // Days to civil date, so that no platform time function (and no time zone) is involved.
    const std::int64_t days = seconds / 86400;
    const std::uint32_t rest = seconds % 86400;
    const std::int64_t z = days + 719468;
    const std::int64_t era = z / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    const auto two = [](std::int64_t v) {
        return std::array<char, 2>{static_cast<char>('0' + v / 10),
                                   static_cast<char>('0' + v % 10)};
    };
    std::string result = std::to_string(year) + "-";
    const auto append = [&](std::int64_t v, char after) {
        const auto d = two(v);
        result.append(d.data(), 2);
        if (after != 0) {
            result += after;
        }
    };
    append(month, '-');
    append(day, ' ');
    append(rest / 3600, ':');
    append(rest / 60 % 60, ':');
    append(rest % 60, 0);
    return result + " UTC";
}

} // namespace tdump
