// .debug_line: each unit's line program, its header (the opcode set, the
// include directories and the file names) and the rows of the line table it
// builds, one row a line. Rows are written as the program makes them, so
// nothing of a program is held but its header's counts.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dwarf/cursor.h"
#include "dwarf/dwarf.h"
#include "dwarf/names.h"

namespace tdump::dwarf {
namespace {

// Longest name a directory or file entry may have.
constexpr std::size_t nameLimit = 4096;
// A line number past this is taken for a wild program, not a long source.
constexpr std::uint32_t wildLine = 100'000'000;

// Standard opcodes (DW_LNS_*).
constexpr std::uint8_t lnsCopy = 1;
constexpr std::uint8_t lnsAdvancePc = 2;
constexpr std::uint8_t lnsAdvanceLine = 3;
constexpr std::uint8_t lnsSetFile = 4;
constexpr std::uint8_t lnsSetColumn = 5;
constexpr std::uint8_t lnsNegateStmt = 6;
constexpr std::uint8_t lnsSetBasicBlock = 7;
constexpr std::uint8_t lnsConstAddPc = 8;
constexpr std::uint8_t lnsFixedAdvancePc = 9;
constexpr std::uint8_t lnsSetPrologueEnd = 10;
constexpr std::uint8_t lnsSetEpilogueBegin = 11;
constexpr std::uint8_t lnsSetIsa = 12;
constexpr std::array<std::string_view, 13> standardNames = {
    "",
    "DW_LNS_copy",
    "DW_LNS_advance_pc",
    "DW_LNS_advance_line",
    "DW_LNS_set_file",
    "DW_LNS_set_column",
    "DW_LNS_negate_stmt",
    "DW_LNS_set_basic_block",
    "DW_LNS_const_add_pc",
    "DW_LNS_fixed_advance_pc",
    "DW_LNS_set_prologue_end",
    "DW_LNS_set_epilogue_begin",
    "DW_LNS_set_isa",
};

// Extended opcodes (DW_LNE_*), after a 0 byte and their length.
constexpr std::uint8_t lneEndSequence = 1;
constexpr std::uint8_t lneSetAddress = 2;
constexpr std::uint8_t lneDefineFile = 3;
constexpr std::uint8_t lneSetDiscriminator = 4;

// What a version 5 directory or file entry field holds (DW_LNCT_*).
constexpr std::uint64_t lnctPath = 1;
constexpr std::uint64_t lnctDirectoryIndex = 2;
constexpr std::uint64_t lnctTimestamp = 3;
constexpr std::uint64_t lnctSize = 4;
constexpr std::uint64_t lnctMd5 = 5;
constexpr std::array<std::string_view, 6> contentNames = {
    "",
    "DW_LNCT_path",
    "DW_LNCT_directory_index",
    "DW_LNCT_timestamp",
    "DW_LNCT_size",
    "DW_LNCT_MD5",
};

// DW_FORM_ and the form's name, or its number when it has none.
std::string formLabel(std::uint64_t form)
{
    const std::string_view name = formName(form);
    return name.empty() ? "DW_FORM_0x" + toHex(form) : "DW_FORM_" + std::string(name);
}

std::string contentName(std::uint64_t content)
{
    if (content > 0 && content < contentNames.size()) {
        return std::string(contentNames[content]);
    }
    return "DW_LNCT_0x" + toHex(content);
}

// The reason a read of the program failed, for reports.
std::string whyCut(const Cursor& cursor)
{
    return cursor.atEnd() ? "the unit ends" : std::string(cursor.failure());
}

// One field of a version 5 entry format.
struct FieldFormat {
    std::uint64_t content;
    std::uint64_t form;
};

// One directory or file entry as read: version 2 to 4 entries fill name,
// directory, time and size; version 5 ones what their format holds.
struct Entry {
    std::string name;
    std::uint64_t directory = 0;
    std::uint64_t time = 0;
    std::uint64_t size = 0;
    std::array<std::uint8_t, 16> md5{};
};

// What a file entry line shows besides its index and name.
struct FileColumns {
    bool directory = true;
    bool time = true;
    bool size = true;
    bool md5 = false;
};

// The fixed part of a program's header, and the counts its rows are
// checked against.
struct Header {
    InitialLength length;
    std::uint16_t version = 0;
    std::uint8_t addressSize = 0;
    std::uint8_t segmentSelectorSize = 0;
    std::uint64_t headerLength = 0;
    std::uint64_t programStart = 0; // in the unit, after its length
    std::uint8_t minimumInstructionLength = 0;
    std::uint8_t maximumOperations = 1;
    bool defaultIsStmt = false;
    std::int8_t lineBase = 0;
    std::uint8_t lineRange = 0;
    std::uint8_t opcodeBase = 0;
    std::array<std::uint8_t, 256> opcodeLengths{};
    std::uint64_t directories = 0;
    std::uint64_t files = 0;

    bool hasZeroEntries() const { return version >= 5; }
    bool fileNamed(std::uint64_t file) const
    {
        return hasZeroEntries() ? file < files : file >= 1 && file <= files;
    }
    bool directoryNamed(std::uint64_t directory) const
    {
        // Before version 5, directory 0 is the unit's own, which the table leaves out.
        return hasZeroEntries() ? directory < directories : directory <= directories;
    }
};

void writeSigned(Output& out, std::int64_t value)
{
    if (value < 0) {
        out << '-' << dec(0 - static_cast<std::uint64_t>(value));
    } else {
        out << dec(static_cast<std::uint64_t>(value));
    }
}

// Reads one line program's header, writes it and its tables, then runs the
// program and writes its rows.
class ProgramLister {
public:
    ProgramLister(const Sections& sections, Output& out, const Options& options)
        : sections_(sections), out_(out), verbose_(options.verbose())
    {
    }

    // The unit at offset of .debug_line, given without its initial length.
    void list(std::uint64_t offset, InitialLength length, View unit);

private:
    bool readHeader(Cursor& cursor);
    void writeHeader() const;
    void listVersion4Tables(Cursor& cursor);
    void listVersion5Tables(Cursor& cursor);
    std::optional<std::vector<FieldFormat>> readFormat(Cursor& cursor, std::string_view what);
    bool readField(Cursor& cursor, FieldFormat field, Entry& entry);
    std::optional<std::string> tableString(std::string_view sectionName, std::uint64_t offset,
                                           std::uint64_t fileOffset);
    void writeFile(std::uint64_t index, const Entry& entry, const FileColumns& columns,
                   std::uint64_t fileOffset);
    void run(Cursor& cursor);
    bool extended(Cursor& cursor);
    bool standard(Cursor& cursor, std::uint8_t opcode);
    void advance(std::uint64_t operations);
    void emitRow(std::uint64_t fileOffset);
    void resetRegisters();
    void trace(std::uint64_t fileOffset, std::string_view name);

    const Sections& sections_;
    Output& out_;
    bool verbose_;
    Header header_;
    int addressDigits_ = 16;

    // The state machine's registers.
    std::uint64_t address_ = 0;
    std::uint64_t opIndex_ = 0;
    std::uint64_t file_ = 1;
    std::uint32_t line_ = 1;
    std::uint64_t column_ = 0;
    bool isStmt_ = false;
    bool basicBlock_ = false;
    bool prologueEnd_ = false;
    bool epilogueBegin_ = false;
    bool endSequence_ = false;
    std::uint64_t isa_ = 0;
    std::uint64_t discriminator_ = 0;

    // The current sequence: its last row's address, and what has been
    // reported of it, so that a wild program is reported once, not per row.
    bool sequenceHasRows_ = false;
    std::uint64_t lastAddress_ = 0;
    bool addressReported_ = false;
    bool lineReported_ = false;
    bool fileReported_ = false;
};

void ProgramLister::list(std::uint64_t offset, InitialLength length, View unit)
{
    header_ = Header{};
    header_.length = length;
    out_ << "\nLine program at 0x" << hex(offset) << '\n';
    Cursor cursor(unit);
    if (!readHeader(cursor)) {
        return;
    }
    writeHeader();
    // The tables are read within the header, so that a missing terminator
    // cannot take the program's bytes for names.
    Cursor tables(unit.sub(0, header_.programStart), cursor.offset());
    if (header_.version >= 5) {
        listVersion5Tables(tables);
    } else {
        listVersion4Tables(tables);
    }
    if (header_.lineRange == 0 || header_.opcodeBase == 0) {
        report(out_,
               header_.lineRange == 0 ? "line_range is 0: the rows cannot be computed"
                                      : "opcode_base is 0: the opcodes cannot be told apart",
               unit.base());
        return;
    }
    cursor.seek(header_.programStart);
    run(cursor);
}

bool ProgramLister::readHeader(Cursor& cursor)
{
    const auto cut = [&] {
        report(out_, "the header is cut short: " + whyCut(cursor), cursor.fileOffset());
        return false;
    };
    const auto version = cursor.u16();
    if (!version) {
        return cut();
    }
    header_.version = *version;
    if (*version < 2 || *version > 5) {
        report(out_, "version " + std::to_string(*version) + ", which is not 2 to 5",
               cursor.fileOffset() - 2);
        return false;
    }
    if (*version >= 5) {
        const auto addressSize = cursor.u8();
        const auto segmentSelectorSize = cursor.u8();
        if (!segmentSelectorSize) {
            return cut();
        }
        header_.addressSize = *addressSize;
        header_.segmentSelectorSize = *segmentSelectorSize;
    }
    const auto headerLength = cursor.offsetField(header_.length.offsetSize);
    if (!headerLength) {
        return cut();
    }
    header_.headerLength = *headerLength;
    if (*headerLength > cursor.remaining()) {
        report(out_, "the header length (0x" + toHex(*headerLength) + ") runs past the unit",
               cursor.fileOffset());
        return false;
    }
    header_.programStart = cursor.offset() + *headerLength;
    std::array<std::optional<std::uint8_t>, 6> fields;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        // Before version 4 there is no maximum of operations per instruction.
        if (i != 1 || *version >= 4) {
            fields[i] = cursor.u8();
            if (!fields[i]) {
                return cut();
            }
        }
    }
    header_.minimumInstructionLength = *fields[0];
    header_.maximumOperations = fields[1].value_or(1);
    header_.defaultIsStmt = *fields[2] != 0;
    header_.lineBase = static_cast<std::int8_t>(*fields[3]);
    header_.lineRange = *fields[4];
    header_.opcodeBase = *fields[5];
    for (unsigned opcode = 1; opcode < header_.opcodeBase; ++opcode) {
        const auto operands = cursor.u8();
        if (!operands) {
            return cut();
        }
        header_.opcodeLengths[opcode] = *operands;
    }
    return true;
}

void ProgramLister::writeHeader() const
{
    const Header& h = header_;
    label(out_, "Unit length") << hex(h.length.length)
                               << (h.length.offsetSize == 8 ? " (64-bit DWARF)" : " (32-bit DWARF)")
                               << '\n';
    label(out_, "Version") << dec(h.version) << '\n';
    if (h.version >= 5) {
        label(out_, "Address size") << dec(h.addressSize) << '\n';
        label(out_, "Segment selector size") << dec(h.segmentSelectorSize) << '\n';
    }
    label(out_, "Header length") << hex(h.headerLength) << '\n';
    label(out_, "Minimum instruction length") << dec(h.minimumInstructionLength) << '\n';
    if (h.version >= 4) {
        label(out_, "Maximum operations") << dec(h.maximumOperations) << '\n';
    }
    label(out_, "Default is_stmt") << dec(h.defaultIsStmt ? 1 : 0) << '\n';
    writeSigned(label(out_, "Line base"), h.lineBase);
    out_ << '\n';
    label(out_, "Line range") << dec(h.lineRange) << '\n';
    label(out_, "Opcode base") << dec(h.opcodeBase) << '\n';
    // Sixteen to a line: a forged opcode base may make 254 of them.
    constexpr unsigned perLine = 16;
    for (unsigned opcode = 1; opcode < h.opcodeBase; ++opcode) {
        if (opcode % perLine == 1) {
            label(out_, opcode == 1 ? "Standard opcode lengths" : "");
        } else {
            out_ << ' ';
        }
        out_ << dec(h.opcodeLengths[opcode]);
        if (opcode % perLine == 0 || opcode + 1 == h.opcodeBase) {
            out_ << '\n';
        }
    }
}

void ProgramLister::listVersion4Tables(Cursor& cursor)
{
    out_ << "  Include directories\n    Index  Name\n";
    while (!out_.budget().exhausted()) {
        const std::uint64_t at = cursor.fileOffset();
        const auto name = cursor.string(nameLimit);
        if (!name) {
            report(out_, "the directories are cut short: " + whyCut(cursor), at);
            return;
        }
        if (name->empty()) {
            break;
        }
        ++header_.directories;
        out_ << "    " << dec(header_.directories, 5) << "  " << printable(*name) << '\n';
        out_.budget().charge(entryCost);
    }
    out_ << "  Files\n    Index  Dir  Time      Length    Name\n";
    Entry entry;
    while (!out_.budget().exhausted()) {
        const std::uint64_t at = cursor.fileOffset();
        const auto name = cursor.string(nameLimit);
        if (!name) {
            report(out_, "the files are cut short: " + whyCut(cursor), at);
            return;
        }
        if (name->empty()) {
            break;
        }
        entry.name = *name;
        const auto directory = cursor.uleb();
        const auto time = cursor.uleb();
        const auto size = cursor.uleb();
        if (!size) {
            report(out_, "the file " + printable(entry.name) + " is cut short: " + whyCut(cursor),
                   at);
            return;
        }
        entry.directory = *directory;
        entry.time = *time;
        entry.size = *size;
        writeFile(++header_.files, entry, FileColumns{}, at);
    }
}

std::optional<std::vector<FieldFormat>> ProgramLister::readFormat(Cursor& cursor,
                                                                  std::string_view what)
{
    const std::uint64_t at = cursor.fileOffset();
    const auto count = cursor.u8();
    std::vector<FieldFormat> format;
    for (unsigned i = 0; count && i < *count; ++i) {
        const auto content = cursor.uleb();
        const auto form = cursor.uleb();
        if (!form) {
            break;
        }
        format.push_back({*content, *form});
    }
    if (!count || format.size() != *count) {
        report(out_, std::string(what) + " entry format is cut short: " + whyCut(cursor), at);
        return std::nullopt;
    }
    label(out_, std::string(what) + " entry format");
    for (std::size_t i = 0; i < format.size(); ++i) {
        out_ << (i == 0 ? "" : ", ") << contentName(format[i].content) << ' '
             << formLabel(format[i].form);
    }
    out_ << '\n';
    return format;
}

std::optional<std::string> ProgramLister::tableString(std::string_view sectionName,
                                                      std::uint64_t offset,
                                                      std::uint64_t fileOffset)
{
    const Section* section = sections_.find(sectionName);
    if (section != nullptr) {
        if (auto text = section->view.string(offset, nameLimit)) {
            return std::move(text->text);
        }
    }
    report(out_,
           "the name at 0x" + toHex(offset) + " lies outside " + std::string(sectionName) +
               (section == nullptr ? " (the file has none)" : ""),
           fileOffset);
    return std::nullopt;
}

// Reads a field into entry by what it holds; false when it cannot be read
// (or its form is unknown, so that the entry's length is not known).
bool ProgramLister::readField(Cursor& cursor, FieldFormat field, Entry& entry)
{
    const std::uint64_t at = cursor.fileOffset();
    std::optional<std::uint64_t> number;
    std::optional<std::string> text;
    switch (field.form) {
    case form::string:
        if (const auto s = cursor.string(nameLimit)) {
            text = std::string(*s);
        }
        break;
    case form::lineStrp:
    case form::strp:
        if (const auto offset = cursor.offsetField(header_.length.offsetSize)) {
            text = tableString(field.form == form::strp ? ".debug_str" : ".debug_line_str", *offset,
                               at)
                       .value_or("");
        }
        break;
    case form::udata:
        number = cursor.uleb();
        break;
    case form::sdata:
        if (const auto value = cursor.sleb()) {
            number = static_cast<std::uint64_t>(*value);
        }
        break;
    case form::data1:
        number = cursor.u8();
        break;
    case form::data2:
        number = cursor.u16();
        break;
    case form::data4:
        number = cursor.u32();
        break;
    case form::data8:
        number = cursor.u64();
        break;
    case form::data16:
        for (std::uint8_t& byte : entry.md5) {
            const auto value = cursor.u8();
            if (!value) {
                return false;
            }
            byte = *value;
        }
        return true;
    case form::block:
    case form::block1:
    case form::block2:
    case form::block4: {
        const auto size = field.form == form::block    ? cursor.uleb()
                          : field.form == form::block1 ? cursor.fixed(1)
                          : field.form == form::block2 ? cursor.fixed(2)
                                                       : cursor.fixed(4);
        return size && cursor.skip(*size);
    }
    default:
        report(out_, "a field of " + formLabel(field.form) + ", which an entry cannot hold", at);
        return false;
    }
    if (text) {
        if (field.content == lnctPath) {
            entry.name = std::move(*text);
        }
        return true;
    }
    if (!number) {
        return false;
    }
    switch (field.content) {
    case lnctDirectoryIndex:
        entry.directory = *number;
        break;
    case lnctTimestamp:
        entry.time = *number;
        break;
    case lnctSize:
        entry.size = *number;
        break;
    default:
        break;
    }
    return true;
}

void ProgramLister::listVersion5Tables(Cursor& cursor)
{
    Entry entry;
    for (const bool files : {false, true}) {
        const std::string_view what = files ? "File" : "Directory";
        const auto format = readFormat(cursor, what);
        if (!format) {
            return;
        }
        const std::uint64_t countAt = cursor.fileOffset();
        const auto count = cursor.uleb();
        if (!count) {
            report(out_, std::string(what) + " count is cut short: " + whyCut(cursor), countAt);
            return;
        }
        if (format->empty() && *count != 0) {
            report(out_, std::string(what) + " entries without fields: " + std::to_string(*count),
                   countAt);
            return;
        }
        FileColumns columns{false, false, false, false};
        for (const FieldFormat& field : *format) {
            columns.directory |= field.content == lnctDirectoryIndex;
            columns.time |= field.content == lnctTimestamp;
            columns.size |= field.content == lnctSize;
            columns.md5 |= field.content == lnctMd5;
        }
        out_ << (files ? "  Files\n    Index  " : "  Include directories\n    Index  ")
             << (columns.directory && files ? "Dir  " : "")
             << (columns.time && files ? "Time      " : "")
             << (columns.size && files ? "Length    " : "")
             << (columns.md5 && files ? "MD5                               " : "") << "Name\n";
        for (std::uint64_t index = 0; index < *count && !out_.budget().exhausted(); ++index) {
            const std::uint64_t at = cursor.fileOffset();
            entry = Entry{};
            for (const FieldFormat& field : *format) {
                if (!readField(cursor, field, entry)) {
                    report(out_,
                           std::string(what) + " entry " + std::to_string(index) +
                               " is cut short: " + whyCut(cursor),
                           at);
                    return;
                }
            }
            if (files) {
                ++header_.files;
                writeFile(index, entry, columns, at);
            } else {
                ++header_.directories;
                out_ << "    " << dec(index, 5) << "  " << printable(entry.name) << '\n';
                out_.budget().charge(entryCost);
            }
        }
    }
}

void ProgramLister::writeFile(std::uint64_t index, const Entry& entry, const FileColumns& columns,
                              std::uint64_t fileOffset)
{
    out_ << "    " << dec(index, 5) << "  ";
    if (columns.directory) {
        out_ << dec(entry.directory, 3) << "  ";
    }
    if (columns.time) {
        out_ << hex(entry.time) << "  ";
    }
    if (columns.size) {
        out_ << hex(entry.size) << "  ";
    }
    if (columns.md5) {
        for (const std::uint8_t byte : entry.md5) {
            out_ << hex(byte, 2);
        }
        out_ << "  ";
    }
    out_ << printable(entry.name) << '\n';
    out_.budget().charge(entryCost);
    if (columns.directory && !header_.directoryNamed(entry.directory)) {
        report(out_, "directory " + std::to_string(entry.directory) + " names no directory",
               fileOffset);
    }
}

void ProgramLister::resetRegisters()
{
    address_ = 0;
    opIndex_ = 0;
    file_ = 1;
    line_ = 1;
    column_ = 0;
    isStmt_ = header_.defaultIsStmt;
    basicBlock_ = false;
    prologueEnd_ = false;
    epilogueBegin_ = false;
    endSequence_ = false;
    isa_ = 0;
    discriminator_ = 0;
    sequenceHasRows_ = false;
    addressReported_ = false;
    lineReported_ = false;
    fileReported_ = false;
}

// Moves the address on by operations: with more than one operation per
// instruction (VLIW), whole instructions move the address and the rest the
// operation index.
void ProgramLister::advance(std::uint64_t operations)
{
    const std::uint64_t perInstruction =
        header_.maximumOperations == 0 ? 1 : header_.maximumOperations;
    const std::uint64_t total = opIndex_ + operations;
    address_ += header_.minimumInstructionLength * (total / perInstruction);
    opIndex_ = total % perInstruction;
}

void ProgramLister::trace(std::uint64_t fileOffset, std::string_view name)
{
    out_ << "      " << hex(fileOffset) << "  " << name;
}

void ProgramLister::emitRow(std::uint64_t fileOffset)
{
    out_ << "    " << hex(address_, addressDigits_) << ' ' << dec(line_, 7) << ' '
         << dec(column_, 6) << ' ' << dec(file_, 5);
    if (isStmt_) {
        out_ << "  is_stmt";
    }
    if (basicBlock_) {
        out_ << "  basic_block";
    }
    if (prologueEnd_) {
        out_ << "  prologue_end";
    }
    if (epilogueBegin_) {
        out_ << "  epilogue_begin";
    }
    if (endSequence_) {
        out_ << "  end_sequence";
    }
    if (discriminator_ != 0) {
        out_ << "  discriminator " << dec(discriminator_);
    }
    if (isa_ != 0) {
        out_ << "  isa " << dec(isa_);
    }
    out_ << '\n';
    if (sequenceHasRows_ && address_ < lastAddress_ && !addressReported_) {
        addressReported_ = true;
        report(out_, "the address goes back within the sequence", fileOffset);
    }
    if (line_ > wildLine && !lineReported_) {
        lineReported_ = true;
        report(out_, "line " + std::to_string(line_) + " is past any source", fileOffset);
    }
    if (!header_.fileNamed(file_) && !fileReported_) {
        fileReported_ = true;
        report(out_, "file " + std::to_string(file_) + " names no file", fileOffset);
    }
    sequenceHasRows_ = true;
    lastAddress_ = address_;
    basicBlock_ = false;
    prologueEnd_ = false;
    epilogueBegin_ = false;
    discriminator_ = 0;
}

void ProgramLister::run(Cursor& cursor)
{
    addressDigits_ =
        (header_.addressSize != 0 ? header_.addressSize : sections_.addressSize()) <= 4 ? 8 : 16;
    out_ << "  Rows\n    Address" << column("", static_cast<std::size_t>(addressDigits_) - 6)
         << "   Line Column  File  Flags\n";
    resetRegisters();
    while (!cursor.atEnd() && !out_.budget().exhausted()) {
        out_.budget().charge(entryCost);
        const std::uint64_t at = cursor.fileOffset();
        const auto read = cursor.u8();
        if (!read) {
            report(out_, "the program cannot be read: " + whyCut(cursor), at);
            return;
        }
        const std::uint8_t opcode = *read;
        bool ok = true;
        if (opcode >= header_.opcodeBase) {
            // A special opcode: an address advance and a line advance in one byte.
            const unsigned adjusted = opcode - header_.opcodeBase;
            const std::int64_t lineAdvance =
                header_.lineBase + static_cast<std::int64_t>(adjusted % header_.lineRange);
            if (verbose_) {
                trace(at, "special 0x" + toHex(opcode, 2));
                out_ << ": operations +" << dec(adjusted / header_.lineRange) << ", line ";
                writeSigned(out_ << (lineAdvance < 0 ? "" : "+"), lineAdvance);
                out_ << '\n';
            }
            advance(adjusted / header_.lineRange);
            line_ += static_cast<std::uint32_t>(lineAdvance);
            emitRow(at);
        } else if (opcode == 0) {
            ok = extended(cursor);
        } else {
            ok = standard(cursor, opcode);
        }
        if (!ok) {
            return;
        }
    }
}

// A standard opcode; false when its operands cannot be read.
bool ProgramLister::standard(Cursor& cursor, std::uint8_t opcode)
{
    const std::uint64_t at = cursor.fileOffset() - 1;
    const std::string_view name =
        opcode < standardNames.size() ? standardNames[opcode] : std::string_view();
    std::optional<std::uint64_t> operand = 0;
    std::optional<std::int64_t> signedOperand;
    switch (opcode) {
    case lnsAdvancePc:
    case lnsSetFile:
    case lnsSetColumn:
    case lnsSetIsa:
        operand = cursor.uleb();
        break;
    case lnsAdvanceLine:
        signedOperand = cursor.sleb();
        operand = signedOperand ? std::optional<std::uint64_t>(0) : std::nullopt;
        break;
    case lnsFixedAdvancePc:
        operand = cursor.u16();
        break;
    case lnsConstAddPc:
        operand = (255u - header_.opcodeBase) / header_.lineRange;
        break;
    default:
        break;
    }
    if (!operand) {
        report(out_, std::string(name) + " is cut short: " + whyCut(cursor), at);
        return false;
    }
    if (verbose_ && !name.empty()) {
        trace(at, name);
        if (signedOperand) {
            writeSigned(out_ << ' ', *signedOperand);
        } else if (opcode != lnsCopy && opcode != lnsNegateStmt && opcode != lnsSetBasicBlock &&
                   opcode != lnsSetPrologueEnd && opcode != lnsSetEpilogueBegin) {
            out_ << ' ' << dec(*operand);
        }
        out_ << '\n';
    }
    switch (opcode) {
    case lnsCopy:
        emitRow(at);
        break;
    case lnsAdvancePc:
    case lnsConstAddPc:
        advance(*operand);
        break;
    case lnsAdvanceLine:
        line_ += static_cast<std::uint32_t>(*signedOperand);
        break;
    case lnsSetFile:
        file_ = *operand;
        break;
    case lnsSetColumn:
        column_ = *operand;
        break;
    case lnsNegateStmt:
        isStmt_ = !isStmt_;
        break;
    case lnsSetBasicBlock:
        basicBlock_ = true;
        break;
    case lnsFixedAdvancePc:
        address_ += *operand;
        opIndex_ = 0;
        break;
    case lnsSetPrologueEnd:
        prologueEnd_ = true;
        break;
    case lnsSetEpilogueBegin:
        epilogueBegin_ = true;
        break;
    case lnsSetIsa:
        isa_ = *operand;
        break;
    default: {
        // An opcode this reader does not know: the header says how many
        // LEB128 operands it has.
        if (verbose_) {
            trace(at, "opcode 0x" + toHex(opcode, 2) + ", skipped\n");
        }
        for (unsigned i = 0; i < header_.opcodeLengths[opcode]; ++i) {
            if (!cursor.uleb()) {
                report(out_, "opcode 0x" + toHex(opcode, 2) + " is cut short: " + whyCut(cursor),
                       at);
                return false;
            }
        }
        break;
    }
    }
    return true;
}

// An extended opcode: its length, then what it does; false when the
// program cannot go on past it.
bool ProgramLister::extended(Cursor& cursor)
{
    const std::uint64_t at = cursor.fileOffset() - 1;
    const auto length = cursor.uleb();
    if (!length) {
        report(out_, "an extended opcode's length is cut short: " + whyCut(cursor), at);
        return false;
    }
    if (*length > cursor.remaining()) {
        report(out_, "an extended opcode's length (0x" + toHex(*length) + ") runs past the unit",
               at);
        return false;
    }
    if (*length == 0) {
        report(out_, "an extended opcode of length 0", at);
        return true;
    }
    const std::uint64_t end = cursor.offset() + *length;
    const std::uint8_t opcode = cursor.u8().value_or(0);
    const std::uint64_t operandSize = *length - 1;
    switch (opcode) {
    case lneEndSequence:
        if (verbose_) {
            trace(at, "DW_LNE_end_sequence\n");
        }
        endSequence_ = true;
        emitRow(at);
        resetRegisters();
        break;
    case lneSetAddress: {
        if (operandSize == 0 || operandSize > 8) {
            report(out_,
                   "DW_LNE_set_address with an address of " + std::to_string(operandSize) +
                       " bytes",
                   at);
            cursor.seek(end);
            break;
        }
        address_ = cursor.fixed(static_cast<unsigned>(operandSize)).value_or(0);
        opIndex_ = 0;
        if (verbose_) {
            trace(at, "DW_LNE_set_address ");
            out_ << hex(address_, addressDigits_) << '\n';
        }
        break;
    }
    case lneDefineFile: {
        const auto name = cursor.string(nameLimit);
        Entry entry;
        if (name) {
            entry.name = *name;
        }
        const auto directory = cursor.uleb();
        const auto time = cursor.uleb();
        const auto size = cursor.uleb();
        if (!size) {
            report(out_, "DW_LNE_define_file is cut short: " + whyCut(cursor), at);
            return false;
        }
        entry.directory = *directory;
        entry.time = *time;
        entry.size = *size;
        // Written with or without -v: the file table grows by it.
        trace(at, "DW_LNE_define_file\n");
        writeFile(++header_.files, entry, FileColumns{}, at);
        break;
    }
    case lneSetDiscriminator: {
        const auto discriminator = cursor.uleb();
        if (!discriminator) {
            report(out_, "DW_LNE_set_discriminator is cut short: " + whyCut(cursor), at);
            return false;
        }
        discriminator_ = *discriminator;
        if (verbose_) {
            trace(at, "DW_LNE_set_discriminator ");
            out_ << dec(discriminator_) << '\n';
        }
        break;
    }
    default:
        report(out_, "extended opcode 0x" + toHex(opcode, 2) + " is unknown; skipped", at);
        cursor.seek(end);
        break;
    }
    if (cursor.offset() != end) {
        report(out_, "the extended opcode's length (0x" + toHex(*length) + ") is not its size", at);
    }
    cursor.seek(end);
    return true;
}

} // namespace

void listLines(const Sections& sections, Output& out, const Options& options)
{
    const Section* section = sections.find(".debug_line");
    if (section == nullptr) {
        return;
    }
    heading(out, ".debug_line");
    ProgramLister lister(sections, out, options);
    Cursor cursor(section->view);
    while (!cursor.atEnd() && !out.budget().exhausted()) {
        const std::uint64_t offset = cursor.offset();
        const auto length = cursor.initialLength();
        if (!length) {
            report(out, "a unit length is cut short: " + std::string(cursor.failure()),
                   section->view.base() + offset);
            return;
        }
        std::uint64_t size = length->length;
        if (size > cursor.remaining()) {
            report(out, "the unit length (0x" + toHex(size) + ") runs past the section",
                   section->view.base() + offset);
            size = cursor.remaining();
        }
        lister.list(offset, *length, section->view.sub(cursor.offset(), size));
        cursor.skip(size);
    }
}

} // namespace tdump::dwarf
