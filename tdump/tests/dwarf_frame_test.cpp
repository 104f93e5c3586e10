// .debug_frame in COFF objects: CIEs and FDEs of each layout, the
// call-frame instructions with their factored operands, then one damaged
// entry at a time, each reported where it is and followed by the next entry.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "coff/coff.h"
#include "dwarf/expression.h"
#include "image_builder.h"
#include "output.h"
#include "test_support.h"

namespace tdump::test {
namespace {

using Entry = std::vector<std::uint8_t>;

// An entry of 32-bit DWARF (64-bit with dwarf64): its length, then the CIE
// id or CIE pointer, then body.
Entry entry(std::uint64_t id, const Entry& body, bool dwarf64 = false)
{
    Entry bytes;
    const unsigned offsetSize = dwarf64 ? 8 : 4;
    const std::uint64_t length = offsetSize + body.size();
    if (dwarf64) {
        appendLittle(bytes, 0xFFFFFFFFu, 4);
    }
    appendLittle(bytes, length, offsetSize);
    appendLittle(bytes, id, offsetSize);
    append(bytes, body);
    return bytes;
}

constexpr std::uint64_t cieId = 0xFFFFFFFFu;

// A version 3 CIE as GCC writes it: augmentation "", code alignment 1,
// data alignment -8, return address column 16, then instructions.
Entry cie3(const Entry& instructions)
{
    Entry body{3, 0, 1, 0x78, 16};
    append(body, instructions);
    return entry(cieId, body);
}

// An FDE of the CIE at cie for [location, location + range), 8-byte addresses.
Entry fde(std::uint64_t cie, std::uint64_t location, std::uint64_t range, const Entry& instructions)
{
    Entry body;
    appendLittle(body, location, 8);
    appendLittle(body, range, 8);
    append(body, instructions);
    return entry(cie, body);
}

std::string frameListing(const Entry& frame, std::uint16_t machine = machineAmd64)
{
    return listing(makeObject(machine, {{".debug_frame", frame}}, {}).bytes.data, {"-ix"});
}

// An instruction's line: its name, then from the 45th column its operands.
std::string line(const std::string& name, const std::string& operands)
{
    std::string text = "              " + name;
    if (!operands.empty()) {
        text.resize(std::max<std::size_t>(text.size(), 14 + 30), ' ');
        text += " " + operands;
    }
    return text + "\n";
}

std::string reg(std::uint64_t number)
{
    return dwarf::registerName(machineAmd64, number);
}

TEST(DwarfFrame, InstructionsWithFactoredOperandsAndTheAddressesReached)
{
    // The CIE: def_cfa RSP+8, offset RIP at 1 * -8.
    Entry frame = cie3({0x0C, 7, 8, 0x90, 1});
    append(frame, fde(0, 0x1000, 0x40,
                      {
                          0x41,                                  // advance_loc 1
                          0x0E, 0x10,                            // def_cfa_offset 16
                          0x83, 0x02,                            // offset RBX at 2 * -8
                          0x02, 0x03,                            // advance_loc1 3
                          0x03, 0x00, 0x01,                      // advance_loc2 0x100
                          0x01, 0,    0x20, 0,    0, 0, 0, 0, 0, // set_loc 0x2000
                          0x04, 0x10, 0,    0,    0,             // advance_loc4 16
                          0x11, 6,    0x7E,       // offset_extended_sf RBP at -2 * -8
                          0x13, 0x7C,             // def_cfa_offset_sf -4 * -8
                          0x14, 12,   3,          // val_offset R12 at 3 * -8
                          0x2F, 13,   1,          // GNU_negative_offset_extended R13, -(1 * -8)
                          0x09, 3,    6,          // register RBX in RBP
                          0x0A, 0x0B,             // remember_state, restore_state
                          0x2E, 0x20,             // GNU_args_size 32
                          0xC3,                   // restore RBX
                          0x0F, 2,    0x77, 0x08, // def_cfa_expression: breg7 +8
                          0x00,                   // nop
                      }));
    const std::string text = frameListing(frame);
    EXPECT_TRUE(reports(text).empty()) << text;
    EXPECT_TRUE(Contains(text, "  00000000  CIE  length 0xE, version 3, augmentation \"\"\n"
                               "            code alignment 1, data alignment -8, return "
                               "address column 16 (" +
                                   reg(16) + ")\n"));
    EXPECT_TRUE(Contains(text, line("DW_CFA_def_cfa", reg(7) + " +8") +
                                   line("DW_CFA_offset", reg(16) + " -8")));
    EXPECT_TRUE(Contains(text, "  00000012  FDE  length 0x44, CIE 0x0\n"
                               "            pc 00001000..00001040, range 0x40\n"));
    EXPECT_TRUE(Contains(
        text,
        line("DW_CFA_advance_loc", "1 to 00001001") + line("DW_CFA_def_cfa_offset", "+16") +
            line("DW_CFA_offset", reg(3) + " -16") + line("DW_CFA_advance_loc1", "3 to 00001004") +
            line("DW_CFA_advance_loc2", "256 to 00001104") + line("DW_CFA_set_loc", "00002000") +
            line("DW_CFA_advance_loc4", "16 to 00002010") +
            line("DW_CFA_offset_extended_sf", reg(6) + " +16") +
            line("DW_CFA_def_cfa_offset_sf", "+32") + line("DW_CFA_val_offset", reg(12) + " -24") +
            line("DW_CFA_GNU_negative_offset_extended", reg(13) + " +8") +
            line("DW_CFA_register", reg(3) + " " + reg(6)) + line("DW_CFA_remember_state", "") +
            line("DW_CFA_restore_state", "") + line("DW_CFA_GNU_args_size", "+32") +
            line("DW_CFA_restore", reg(3))));
    // The expression takes its two bytes, and the nop after it is read as one.
    const std::size_t expression = text.find("DW_CFA_def_cfa_expression      DW_OP_");
    ASSERT_NE(expression, std::string::npos) << text;
    EXPECT_EQ(text.substr(text.find('\n', expression) + 1), line("DW_CFA_nop", ""));
}

// Where the one section of a frameListing object starts in the file: after
// the file header and its section header.
constexpr std::size_t frameSection = 20 + 40;

std::string reportAt(const std::string& what, std::size_t offset)
{
    return "  ** " + what + " " + hexOffset(frameSection + offset);
}

TEST(DwarfFrameDamage, AnEntryLongerThanTheSectionIsListedAsFarAsItGoes)
{
    Entry frame = cie3({});
    const std::size_t cut = frame.size();
    Entry last = fde(0, 0x1000, 0x10, {0x41, 0x0E, 0x10});
    last[0] = 0x40; // 64 bytes, where there are 23
    append(frame, last);
    const std::string text = frameListing(frame);
    EXPECT_EQ(reports(text), std::vector<std::string>{reportAt(
                                 "the entry's length runs past the end of the section", cut)})
        << text;
    EXPECT_TRUE(Contains(text, "            pc 00001000..00001010, range 0x10\n"));
    EXPECT_TRUE(Contains(text, line("DW_CFA_advance_loc", "1 to 00001001") +
                                   line("DW_CFA_def_cfa_offset", "+16")));

    // A reserved length ends the listing: nothing after it can be found.
    Entry reserved = cie3({});
    appendLittle(reserved, 0xFFFFFFF0u, 4);
    append(reserved, cie3({}));
    const std::string stopped = frameListing(reserved);
    EXPECT_EQ(reports(stopped),
              std::vector<std::string>{
                  reportAt("entry at 0x" + toHex(cut) + ": a reserved initial length", cut)})
        << stopped;
    EXPECT_TRUE(Lacks(stopped, "  00000010  CIE"));
}

TEST(DwarfFrameDamage, CiePointersThatNameNoCie)
{
    Entry frame = cie3({});
    const std::size_t first = frame.size();
    append(frame, fde(first, 0x1000, 0x10, {0x41})); // names itself, an FDE
    const std::size_t second = frame.size();
    append(frame, fde(0x1000, 0x2000, 0x10, {0x41})); // past the section
    append(frame, fde(0, 0x3000, 0x10, {0x41}));
    // A CIE of a version this program does not read, and an FDE naming it.
    const std::size_t version2 = frame.size();
    append(frame, entry(cieId, {2, 0, 1, 0x78, 16}));
    const std::size_t fourth = frame.size();
    append(frame, fde(version2, 0x4000, 0x10, {0x41}));

    const std::string text = frameListing(frame);
    EXPECT_EQ(reports(text),
              (std::vector<std::string>{
                  reportAt("the CIE pointer 0x" + toHex(first) +
                               " names no CIE that can be read: it is not a CIE",
                           first + 8),
                  reportAt("the CIE pointer 0x1000 names no CIE that can be read: its length "
                           "cannot be read: the section ends",
                           second + 8),
                  reportAt("CIE: its version 2 is not 1, 3 or 4", version2 + 8),
                  reportAt("the CIE pointer 0x" + toHex(version2) +
                               " names no CIE that can be read: its version 2 is not 1, 3 or 4",
                           fourth + 8),
              }))
        << text;
    // Their address ranges are read all the same, of the target's size; the
    // FDE after them is whole.
    EXPECT_TRUE(Contains(text, "            pc 00001000..00001010, range 0x10\n"));
    EXPECT_TRUE(Contains(text, "            pc 00002000..00002010, range 0x10\n"));
    EXPECT_TRUE(Contains(text, "            pc 00003000..00003010, range 0x10\n" +
                                   line("DW_CFA_advance_loc", "1 to 00003001")));
    EXPECT_TRUE(Contains(text, "            pc 00004000..00004010, range 0x10\n"));
    EXPECT_TRUE(Lacks(text, "to 00001001"));
}

TEST(DwarfFrameDamage, InstructionsThatCannotBeDecodedEndTheirEntryOnly)
{
    Entry frame = cie3({});
    const std::size_t unknown = frame.size() + 24;
    append(frame, fde(0, 0x1000, 0x10, {0x41, 0x3F, 0x41}));
    const std::size_t cut = frame.size() + 24;
    append(frame, fde(0, 0x2000, 0x10, {0x04, 0x01, 0x00}));
    const std::size_t overLong = frame.size() + 24;
    // def_cfa_offset with eleven bytes of LEB128.
    Entry leb(12, 0x80);
    leb.front() = 0x0E;
    leb.back() = 0x01;
    append(frame, fde(0, 0x3000, 0x10, leb));
    const std::size_t expression = frame.size() + 24;
    append(frame, fde(0, 0x4000, 0x10, {0x10, 3, 5, 0x77, 0x08}));
    append(frame, fde(0, 0x5000, 0x10, {0x42, 0x0E, 0x10}));

    const std::string text = frameListing(frame);
    EXPECT_EQ(
        reports(text),
        (std::vector<std::string>{
            reportAt("unknown call-frame instruction 0x3F: the rest of the entry's "
                     "instructions are not decoded",
                     unknown + 1),
            reportAt("DW_CFA_advance_loc4: its operands run past the end of the entry", cut),
            reportAt("DW_CFA_def_cfa_offset: an over-long LEB128", overLong),
            reportAt("DW_CFA_expression: its operands run past the end of the entry", expression),
        }))
        << text;
    EXPECT_TRUE(Contains(text, line("DW_CFA_advance_loc", "1 to 00001001")));
    EXPECT_TRUE(Lacks(text, "to 00001002"));
    EXPECT_TRUE(Contains(text, line("DW_CFA_advance_loc", "2 to 00005002") +
                                   line("DW_CFA_def_cfa_offset", "+16")));
}

TEST(DwarfFrameDamage, AnAugmentationNotUnderstoodSkipsTheInstructions)
{
    // "zR", as .eh_frame has: what follows it is laid out otherwise.
    Entry frame = entry(cieId, {1, 'z', 'R', 0, 1, 0x78, 16, 1, 0x1B, 0x0C, 7, 8});
    const std::size_t fdeAt = frame.size();
    append(frame, fde(0, 0x1000, 0x10, {0x41}));
    const std::string text = frameListing(frame);
    EXPECT_EQ(reports(text),
              (std::vector<std::string>{
                  reportAt("the augmentation is not understood: its instructions are skipped", 0),
                  reportAt("its CIE's augmentation is not understood: its instructions are "
                           "skipped",
                           fdeAt + 8),
              }))
        << text;
    EXPECT_TRUE(Contains(text, "CIE  length 0x10, version 1, augmentation \"zR\"\n"));
    EXPECT_TRUE(Contains(text, "            pc 00001000..00001010, range 0x10\n"));
    EXPECT_TRUE(Lacks(text, "DW_CFA_"));
}

} // namespace
} // namespace tdump::test
