// .debug_line: the rows a line program makes, opcode by opcode, the version
// 5 header's entry formats, then one damaged program at a time, each
// reported where it is found while the listing goes on.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "coff/coff.h"
#include "image_builder.h"
#include "test_support.h"

namespace tdump::test {
namespace {

using ByteList = std::vector<std::uint8_t>;
using namespace std::string_view_literals;

// Tables written as text, NULs and all.
ByteList bytesOf(std::string_view text)
{
    return {text.begin(), text.end()};
}

ByteList uleb(std::uint64_t value)
{
    ByteList bytes;
    do {
        const auto low = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
        bytes.push_back(value != 0 ? low | 0x80 : low);
    } while (value != 0);
    return bytes;
}

ByteList sleb(std::int64_t value)
{
    ByteList bytes;
    while (true) {
        const auto low = static_cast<std::uint8_t>(value & 0x7F);
        // An arithmetic shift, written on non-negative values only.
        value = value < 0 ? ~(~value >> 7) : value >> 7;
        if ((value == 0 && (low & 0x40) == 0) || (value == -1 && (low & 0x40) != 0)) {
            bytes.push_back(low);
            return bytes;
        }
        bytes.push_back(low | 0x80);
    }
}

// Opcodes of the programs below.
ByteList setAddress(std::uint64_t address)
{
    ByteList bytes{0, 9, 2};
    appendLittle(bytes, address, 8);
    return bytes;
}
const ByteList endSequence{0, 1, 1};
const ByteList copy{1};
ByteList advanceLine(std::int64_t by)
{
    ByteList bytes{3};
    append(bytes, sleb(by));
    return bytes;
}
ByteList setFile(std::uint64_t file)
{
    ByteList bytes{4};
    append(bytes, uleb(file));
    return bytes;
}
// With line_base -5 and line_range 14 (opcode_base 13): address and line
// advances in one byte.
std::uint8_t special(unsigned addressAdvance, int lineAdvance)
{
    return static_cast<std::uint8_t>(13 + (lineAdvance + 5) +
                                     14 * static_cast<int>(addressAdvance));
}

// A version 2 to 4 unit: header fields, the tables, the program; lengths
// computed unless forged.
struct Unit {
    std::uint16_t version = 4;
    std::uint8_t lineRange = 14;
    std::uint8_t opcodeBase = 13;
    // Version 2 to 4 tables: directory "src", file "a.c" in it.
    ByteList tables = bytesOf("src\0\0a.c\0\1\0\0\0"sv);
    ByteList program;
    std::optional<std::uint32_t> unitLength;
    std::optional<std::uint32_t> headerLength;
    bool dwarf64 = false; // 64-bit DWARF: 8-byte lengths and offsets

    ByteList bytes() const
    {
        ByteList afterHeaderLength{1}; // minimum instruction length
        if (version >= 4) {
            afterHeaderLength.push_back(1); // maximum operations per instruction
        }
        afterHeaderLength.push_back(1);    // default_is_stmt
        afterHeaderLength.push_back(0xFB); // line_base -5
        afterHeaderLength.push_back(lineRange);
        afterHeaderLength.push_back(opcodeBase);
        const ByteList standardLengths{0, 1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 1};
        for (unsigned opcode = 1; opcode < opcodeBase; ++opcode) {
            afterHeaderLength.push_back(opcode <= standardLengths.size()
                                            ? standardLengths[opcode - 1]
                                            : 2); // unknown opcodes: two operands
        }
        append(afterHeaderLength, tables);
        ByteList unit;
        appendLittle(unit, version, 2);
        if (version >= 5) {
            unit.push_back(8); // address size
            unit.push_back(0); // segment selector size
        }
        const unsigned offsetSize = dwarf64 ? 8 : 4;
        appendLittle(unit,
                     headerLength.value_or(static_cast<std::uint32_t>(afterHeaderLength.size())),
                     offsetSize);
        append(unit, afterHeaderLength);
        append(unit, program);
        ByteList bytes;
        if (dwarf64) {
            appendLittle(bytes, 0xFFFFFFFF, 4);
        }
        appendLittle(bytes, unitLength.value_or(static_cast<std::uint32_t>(unit.size())),
                     offsetSize);
        append(bytes, unit);
        return bytes;
    }
};

std::string lines(const ByteList& section, const std::vector<ObjectSection>& more = {},
                  const std::vector<std::string>& switches = {"-ic"})
{
    std::vector<ObjectSection> sections{{".debug_line", section}};
    sections.insert(sections.end(), more.begin(), more.end());
    return listing(makeObject(machineAmd64, sections, {}).bytes.data, switches);
}

// Whether the listing reports what, once and only once.
::testing::AssertionResult ReportedOnce(const std::string& listing, std::string_view what)
{
    std::size_t count = 0;
    for (const std::string& line : reports(listing)) {
        if (line.find(what) != std::string::npos) {
            ++count;
        }
    }
    if (count == 1) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "\"" << what << "\" reported " << count << " times in\n"
                                         << listing;
}

TEST(DwarfLines, EveryOpcodeMakesTheRowsItShould)
{
    Unit unit;
    unit.opcodeBase = 14; // opcode 13 is one this reader does not know
    unit.tables = bytesOf("src\0\0a.c\0\1\0\0b.h\0\0\0\0\0"sv);
    unit.program = setAddress(0x140001000);
    append(unit.program, advanceLine(9)); // line 10
    append(unit.program, copy);
    // Special opcodes are counted from the opcode base: 14 here.
    unit.program.push_back(static_cast<std::uint8_t>(special(2, 3) + 1)); // 0x1002, line 13
    append(unit.program, {5, 7});                                         // set_column 7
    append(unit.program, {6, 7, 10, 11});         // negate_stmt, basic_block, prologue, epilogue
    append(unit.program, {0, 2, 4, 5});           // set_discriminator 5
    append(unit.program, {12, 2});                // set_isa 2
    append(unit.program, {13, 0x81, 0x01, 0x05}); // unknown: two operands skipped
    append(unit.program, copy);                   // 0x1002
    append(unit.program, {8});                    // const_add_pc: +(255 - 14) / 14 = 0x11
    append(unit.program, {9, 0x00, 0x01});        // fixed_advance_pc 0x100
    append(unit.program, {2, 3});                 // advance_pc 3
    append(unit.program, setFile(2));
    append(unit.program, copy);               // 0x1116: flags cleared after a row, is_stmt kept
    append(unit.program, {0, 3, 0x7F, 1, 2}); // an unknown extended opcode, skipped
    append(unit.program, endSequence);
    append(unit.program, setAddress(0x140002000));
    append(unit.program, copy); // registers back to their start
    append(unit.program, endSequence);
    const std::string text = lines(unit.bytes());
    EXPECT_TRUE(Contains(text, "        1  src\n"));
    EXPECT_TRUE(Contains(text, "        1    1  00000000  00000000  a.c\n"
                               "        2    0  00000000  00000000  b.h\n"));
    const std::string rows = "    0000000140001000      10      0     1  is_stmt\n"
                             "    0000000140001002      13      0     1  is_stmt\n"
                             "    0000000140001002      13      7     1  basic_block  "
                             "prologue_end  epilogue_begin  discriminator 5  isa 2\n"
                             "    0000000140001116      13      7     2  isa 2\n";
    EXPECT_TRUE(Contains(text, rows));
    EXPECT_TRUE(Contains(text, "  isa 2\n"
                               "  ** extended opcode 0x7F is unknown; skipped"));
    EXPECT_TRUE(Contains(text,
                         "    0000000140001116      13      7     2  end_sequence  isa 2\n"
                         "    0000000140002000       1      0     1  is_stmt\n"
                         "    0000000140002000       1      0     1  is_stmt  end_sequence\n"));
    EXPECT_EQ(reports(text).size(), 1u) << text;

    // The same program in 64-bit DWARF: lengths of eight bytes.
    Unit wide = unit;
    wide.dwarf64 = true;
    const std::string wideText = lines(wide.bytes());
    EXPECT_TRUE(Contains(wideText, " (64-bit DWARF)\n"));
    EXPECT_TRUE(Contains(wideText, rows));
    EXPECT_EQ(reports(wideText).size(), 1u) << wideText;

    // With -v, each opcode before the rows it makes.
    const std::string verbose = lines(unit.bytes(), {}, {"-ic", "-v"});
    EXPECT_TRUE(Contains(verbose, "  DW_LNE_set_address 0000000140001000\n"));
    EXPECT_TRUE(Contains(verbose, "  DW_LNS_advance_line 9\n"));
    EXPECT_TRUE(Contains(verbose, "  DW_LNS_const_add_pc 17\n"));
    EXPECT_TRUE(Contains(verbose, "  opcode 0x0D, skipped\n"));
}

TEST(DwarfLines, Version5EntryFormatsAndTheirForms)
{
    Unit unit;
    unit.version = 5;
    ByteList& t = unit.tables;
    t = {1, 1, 0x1F}; // directories: path as line_strp
    append(t, uleb(2));
    appendLittle(t, 0, 4);
    appendLittle(t, 4, 4);
    // files: path (strp), directory (udata), timestamp (data4), size (data8),
    // MD5 (data16), then a vendor's field in a block, skipped.
    append(t, {6, 1, 0x0E, 2, 0x0F, 3, 0x06, 4, 0x07, 5, 0x1E});
    append(t, uleb(0x2001));
    append(t, {0x09});
    append(t, uleb(2));
    for (std::uint64_t file = 0; file < 2; ++file) {
        appendLittle(t, file * 4, 4);       // "x.c", "y.c"
        append(t, uleb(file == 0 ? 1 : 7)); // 7 names no directory
        appendLittle(t, 0x5F000000 + file, 4);
        appendLittle(t, 0x1234, 8);
        for (std::uint8_t i = 0; i < 16; ++i) {
            t.push_back(static_cast<std::uint8_t>(0x10 * file + i));
        }
        append(t, {3, 0xAA, 0xBB, 0xCC}); // the vendor's block
    }
    unit.program = setAddress(0x1000);
    append(unit.program, setFile(0));
    append(unit.program, copy);
    append(unit.program, endSequence);
    const ByteList lineStrings{'/', 'r', 't', 0, 's', 'r', 'c', 0};
    const ByteList strings{'x', '.', 'c', 0, 'y', '.', 'c', 0};
    const std::string text =
        lines(unit.bytes(), {{".debug_line_str", lineStrings}, {".debug_str", strings}});
    EXPECT_TRUE(Contains(text, "  Directory entry format        DW_LNCT_path DW_FORM_line_strp\n"));
    EXPECT_TRUE(Contains(text, "DW_LNCT_MD5 DW_FORM_data16, DW_LNCT_0x2001 DW_FORM_block\n"));
    EXPECT_TRUE(Contains(text, "        0  /rt\n        1  src\n"));
    EXPECT_TRUE(Contains(
        text, "    Index  Dir  Time      Length    MD5                               Name\n"
              "        0    1  5F000000  00001234  "
              "000102030405060708090A0B0C0D0E0F  x.c\n"
              "        1    7  5F000001  00001234  "
              "101112131415161718191A1B1C1D1E1F  y.c\n"));
    EXPECT_TRUE(ReportedOnce(text, "directory 7 names no directory"));
    // File 0 is a file from version 5 on.
    EXPECT_TRUE(Contains(text, "    0000000000001000       1      0     0  is_stmt\n"));
    EXPECT_EQ(reports(text).size(), 1u) << text;

    // Without the string sections, the names are reported, not guessed.
    const std::string withoutStrings = lines(unit.bytes());
    EXPECT_TRUE(ReportedOnce(withoutStrings,
                             "the name at 0x4 lies outside .debug_str (the file has none)"));
    EXPECT_TRUE(Contains(withoutStrings, "    0000000000001000       1      0     0  is_stmt\n"));
}

TEST(DwarfLines, DamagedHeadersAreReportedAndTheNextProgramListed)
{
    Unit good;
    good.program = setAddress(0x2000);
    append(good.program, copy);
    append(good.program, endSequence);
    const std::string goodRow = "    0000000000002000       1      0     1  is_stmt\n";

    struct Case {
        std::string_view what;
        Unit unit;
    };
    // The good unit with one change.
    const auto changed = [&](auto change) {
        Unit u = good;
        change(u);
        return u;
    };
    const std::vector<Case> cases = {
        {"version 6, which is not 2 to 5", changed([](Unit& u) { u.version = 6; })},
        {"the header length (0x1000) runs past the unit",
         changed([](Unit& u) { u.headerLength = 0x1000; })},
        {"line_range is 0: the rows cannot be computed", changed([](Unit& u) { u.lineRange = 0; })},
        {"opcode_base is 0: the opcodes cannot be told apart",
         changed([](Unit& u) { u.opcodeBase = 0; })},
        {"the file a.c is cut short", changed([](Unit& u) {
             u.tables = bytesOf("src\0\0a.c\0\x80\x80"sv);
             u.program.clear();
         })},
        {"directory 2 names no directory",
         changed([](Unit& u) { u.tables = bytesOf("src\0\0a.c\0\2\0\0\0"sv); })},
    };
    for (const Case& c : cases) {
        ByteList section = c.unit.bytes();
        append(section, good.bytes());
        const std::string text = lines(section);
        EXPECT_TRUE(ReportedOnce(text, c.what)) << c.what;
        // The second program, after the damaged one, is listed whole.
        EXPECT_TRUE(Contains(text, goodRow + "    0000000000002000       1      0     1  is_stmt  "
                                             "end_sequence\n"))
            << c.what;
    }

    // A unit length past the section: what there is is listed.
    Unit longer = good;
    longer.unitLength = 0x10000;
    const std::string text = lines(longer.bytes());
    EXPECT_TRUE(ReportedOnce(text, "the unit length (0x10000) runs past the section"));
    EXPECT_TRUE(Contains(text, goodRow));
}

TEST(DwarfLines, DamagedProgramsAreReportedOncePerSequence)
{
    struct Case {
        std::string_view what;
        ByteList program;
    };
    ByteList wild = setAddress(0x3000);
    append(wild, advanceLine(200'000'000));
    append(wild, setFile(9));
    append(wild, copy);
    append(wild, copy);
    // Back by one, twice: the address wraps round.
    const ByteList back{2, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01};
    append(wild, back);
    append(wild, copy);
    append(wild, back);
    append(wild, copy);
    append(wild, endSequence);
    Unit wildUnit;
    wildUnit.program = wild;
    const std::string text = lines(wildUnit.bytes());
    for (const std::string_view what : {"line 200000001 is past any source", "file 9 names no file",
                                        "the address goes back within the sequence"}) {
        EXPECT_TRUE(ReportedOnce(text, what)) << what;
    }
    EXPECT_EQ(reports(text).size(), 3u) << text;

    std::vector<Case> cases;
    {
        ByteList p = setAddress(0x3000);
        append(p, {2, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01});
        cases.push_back({"DW_LNS_advance_pc is cut short: an over-long LEB128", p});
    }
    {
        ByteList p = setAddress(0x3000);
        append(p, {0, 0x40, 1});
        cases.push_back({"an extended opcode's length (0x40) runs past the unit", p});
    }
    {
        ByteList p = setAddress(0x3000);
        append(p, {3});
        cases.push_back({"DW_LNS_advance_line is cut short: the unit ends", p});
    }
    {
        ByteList p = {0, 10, 2};
        p.resize(p.size() + 9);
        cases.push_back({"DW_LNE_set_address with an address of 9 bytes", p});
    }
    for (const Case& c : cases) {
        Unit damaged;
        damaged.program = c.program;
        ByteList section = damaged.bytes();
        Unit next;
        next.program = setAddress(0x4000);
        append(next.program, copy);
        append(section, next.bytes());
        const std::string listed = lines(section);
        EXPECT_TRUE(ReportedOnce(listed, c.what)) << c.what;
        EXPECT_TRUE(Contains(listed, "    0000000000004000       1      0     1  is_stmt\n"));
    }
}

} // namespace
} // namespace tdump::test
