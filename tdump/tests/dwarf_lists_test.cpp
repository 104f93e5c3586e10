// DWARF expressions, .debug_aranges and the range and location lists of
// both layouts, in COFF objects: what each entry holds, then damage, each
// reported where it is with the listing going on where it can.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "coff/coff.h"
#include "image_builder.h"
#include "output.h"
#include "test_support.h"

namespace tdump::test {
namespace {

using Data = std::vector<std::uint8_t>;

// A .debug_loc list of one entry [0x10, 0x20) holding expression, then the
// end of the list.
Data locationList(const Data& expression)
{
    Data bytes;
    appendLittle(bytes, 0x10, 8);
    appendLittle(bytes, 0x20, 8);
    appendLittle(bytes, expression.size(), 2);
    append(bytes, expression);
    bytes.insert(bytes.end(), 16, 0); // the end: two zero addresses
    return bytes;
}

std::string listSections(const std::vector<ObjectSection>& sections, const char* switches)
{
    return listing(makeObject(machineAmd64, sections, {}).bytes.data, {switches});
}

std::string locations(const Data& debugLoc)
{
    return listSections({{".debug_loc", debugLoc}}, "-iw");
}

// The line of the one entry of a list made by locationList, up to its
// expression.
constexpr std::string_view entryStart = "    0000000000000010  0000000000000020  ";

// A DWARF 5 table of .debug_rnglists or .debug_loclists: the header with
// its offsets, then body; length is what the header says when given.
Data listTable(const std::vector<std::uint32_t>& offsets, const Data& body,
               std::uint64_t length = 0)
{
    Data bytes;
    appendLittle(bytes, length != 0 ? length : 8 + 4 * offsets.size() + body.size(), 4);
    append(bytes, {5, 0, 8, 0});
    appendLittle(bytes, offsets.size(), 4);
    for (const std::uint32_t offset : offsets) {
        appendLittle(bytes, offset, 4);
    }
    append(bytes, body);
    return bytes;
}

TEST(DwarfExpressions, OperandsOfEveryShape)
{
    const Data expression{
        0x77, 0x08,                               // breg7 RSP+8
        0x91, 0x6C,                               // fbreg -20
        0x90, 0x11,                               // regx XMM0
        0x92, 0x06, 0x78,                         // bregx RBP-8
        0x08, 0xFF,                               // const1u 0xFF
        0x09, 0xFF,                               // const1s -1
        0x0B, 0x00, 0x80,                         // const2s -32768
        0x0E, 1,    0,    0,    0,    0, 0, 0, 1, // const8u
        0x03, 0x00, 0x10, 0,    0,    0, 0, 0, 0, // addr 0x1000
        0x93, 0x04,                               // piece 4
        0x9D, 0x03, 0x05,                         // bit_piece 3 5
        0x9E, 0x02, 0xAB, 0xCD,                   // implicit_value 2 bytes
        0xA3, 0x02, 0x72, 0x10,                   // entry_value(breg2 RCX+16)
        0xF3, 0x01, 0x52,                         // GNU_entry_value(reg2 RCX)
        0xA4, 0x2D, 0x02, 0x34, 0x12,             // const_type 0x2D, 2 bytes
        0xA5, 0x00, 0x2D,                         // regval_type RAX 0x2D
        0xA6, 0x04, 0x2D,                         // deref_type 4 0x2D
        0x2F, 0xFD, 0xFF,                         // skip -3
        0xA1, 0x05,                               // addrx 5
        0xFA, 0x78, 0x56, 0x34, 0x12,             // GNU_parameter_ref
        0xF1, 0x03, 0x00, 0x20, 0,    0,          // GNU_encoded_addr udata4
        0x94, 0x04,                               // deref_size 4
        0x31, 0x9F,                               // lit1, stack_value
    };
    const std::string text = locations(locationList(expression));
    EXPECT_TRUE(reports(text).empty()) << text;
    EXPECT_TRUE(Contains(
        text, std::string(entryStart) +
                  "DW_OP_breg7 RSP+8, DW_OP_fbreg -20, DW_OP_regx XMM0, DW_OP_bregx RBP-8, "
                  "DW_OP_const1u 0xFF, DW_OP_const1s -1, DW_OP_const2s -32768, "
                  "DW_OP_const8u 0x100000000000001, DW_OP_addr 0x1000, DW_OP_piece 0x4, "
                  "DW_OP_bit_piece 0x3 0x5, DW_OP_implicit_value 0x2 AB CD, "
                  "DW_OP_entry_value(DW_OP_breg2 RCX+16), "
                  "DW_OP_GNU_entry_value(DW_OP_reg2 RCX), "
                  "DW_OP_const_type 0x2D 0x2 34 12, DW_OP_regval_type RAX 0x2D, "
                  "DW_OP_deref_type 0x4 0x2D, DW_OP_skip -3 (to 0x3D), DW_OP_addrx 0x5, "
                  "DW_OP_GNU_parameter_ref 0x12345678, "
                  "DW_OP_GNU_encoded_addr 0x3 0x2000, DW_OP_deref_size 0x4, DW_OP_lit1, "
                  "DW_OP_stack_value\n"));
}

TEST(DwarfExpressions, DamageEndsTheExpressionAndTheListGoesOn)
{
    // Each expression damaged one way, in a list of its own; the lists after
    // each are still read, since the entry gives the expression's length.
    const std::vector<std::pair<Data, std::string>> cases{
        {{0x50, 0xE5, 0x9F}, "DW_OP_reg0 RAX, ** unknown operation 0xE5"},
        {{0x0C, 0x01, 0x02}, "DW_OP_const4u ** an operand runs past the end"},
        {{0x10, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01},
         "DW_OP_constu ** an over-long LEB128 operand"},
        {{0xA3, 0x05, 0x50}, "DW_OP_entry_value ** a nested expression runs past the end"},
        // The nested expression's operand takes bytes of the one around it.
        {{0xA3, 0x02, 0x0C, 0x01, 0x02, 0x03, 0x04},
         "DW_OP_entry_value(DW_OP_const4u 0x4030201 ** the operands of the operation end past "
         "the expression"},
        {{0x9E, 0x04, 0x01}, "DW_OP_implicit_value 0x4 ** a block runs past the end"},
    };
    Data debugLoc;
    for (const auto& [expression, expected] : cases) {
        append(debugLoc, locationList(expression));
    }
    // Entry values nested deeper than any compiler writes them.
    Data nested{0x9F};
    for (int i = 0; i < 10; ++i) {
        Data outer{0xA3, static_cast<std::uint8_t>(nested.size())};
        append(outer, nested);
        nested = outer;
    }
    append(debugLoc, locationList(nested));
    const std::string text = locations(debugLoc);
    for (const auto& [expression, expected] : cases) {
        EXPECT_TRUE(Contains(text, std::string(entryStart) + expected)) << expected;
    }
    EXPECT_TRUE(Contains(text, "** expressions nested too deep"));
    EXPECT_EQ(reports(text).size(), cases.size() + 1) << text;
}

// The header of an address range set after its length: version 2, the
// unit's offset, 8-byte addresses without segments, then the padding that
// takes the tuples to 16 bytes from the set's start.
void appendSetHeader(Data& to, std::uint32_t unit)
{
    appendLittle(to, 2, 2);
    appendLittle(to, unit, 4);
    appendLittle(to, 8, 2);
    appendLittle(to, 0xEEEEEEEEu, 4);
}

TEST(DwarfAddressRanges, SetsWithPaddingAndDamage)
{
    Data aranges;
    // A set of version 2 for the unit at 0x40: 12 bytes of header, padded
    // to 16, two tuples and the terminating one.
    appendLittle(aranges, 12 + 48, 4);
    appendSetHeader(aranges, 0x40);
    appendLittle(aranges, 0x1000, 8);
    appendLittle(aranges, 0x20, 8);
    appendLittle(aranges, 0x2000, 8);
    appendLittle(aranges, 0x8, 8);
    aranges.insert(aranges.end(), 16, 0); // the terminating tuple
    // A set without its terminating tuple, then one whose length runs past
    // the section.
    appendLittle(aranges, 12 + 16, 4);
    appendSetHeader(aranges, 0);
    appendLittle(aranges, 0x3000, 8);
    appendLittle(aranges, 0x10, 8);
    const std::size_t tooLong = aranges.size();
    appendLittle(aranges, 0x1000, 4);
    appendSetHeader(aranges, 0);
    appendLittle(aranges, 0x4000, 8);
    appendLittle(aranges, 0x10, 8);
    const std::string text = listSections({{".debug_aranges", aranges}}, "-iu");
    EXPECT_TRUE(Contains(text, "  Set at 0x0: length 0x3C, 32-bit DWARF, version 2, unit at 0x40\n"
                               "    address size 8, segment selector size 0\n"
                               "    0000000000001000  length 0000000000000020\n"
                               "    0000000000002000  length 0000000000000008\n"
                               "    end\n"));
    EXPECT_TRUE(Contains(text, "    0000000000003000  length 0000000000000010\n"
                               "  ** the set ends without its terminating tuple"));
    EXPECT_TRUE(Contains(text, "  Set at 0x" + toHex(tooLong) +
                                   ": length 0x1000, 32-bit DWARF, version 2, unit at 0x0\n"
                                   "    address size 8, segment selector size 0\n"
                                   "  ** the length 0x1000 runs past the end of the section"));
    EXPECT_TRUE(Contains(text, "    0000000000004000  length 0000000000000010\n"));
    const auto found = reports(text);
    ASSERT_EQ(found.size(), 3u) << text;
}

TEST(DwarfRangeLists, BothLayoutsAndTheirDamage)
{
    Data ranges;
    appendLittle(ranges, 0x10, 8);
    appendLittle(ranges, 0x20, 8);
    appendLittle(ranges, ~std::uint64_t{0}, 8); // base address selection
    appendLittle(ranges, 0x140001000, 8);
    ranges.insert(ranges.end(), 16, 0); // the end of the list
    appendLittle(ranges, 0x30, 8);      // a list the section ends in
    appendLittle(ranges, 0x40, 8);
    Data rnglists = listTable({0x8, 0xC}, {
                                              0x04, 0x10, 0x20,                   // offset_pair
                                              0x00,                               // end_of_list
                                              0x01, 0x02,                         // base_addressx
                                              0x02, 0x03, 0x04,                   // startx_endx
                                              0x03, 0x05, 0x10,                   // startx_length
                                              0x05, 0,    0x10, 0, 0, 0, 0, 0, 0, // base_address
                                              0x06, 0,    0x20, 0, 0, 0, 0, 0, 0, // start_end
                                              0,    0x21, 0,    0, 0, 0, 0, 0,    //
                                              0x07, 0,    0x30, 0, 0, 0, 0, 0, 0, // start_length
                                              0x08,                               //
                                              0x00,                               // end_of_list
                                          });
    append(rnglists, listTable({}, {0x04, 0x01, 0x02, 0x09, 0x00}));
    append(rnglists, listTable({}, {0x04, 0x01, 0x02})); // no end of list
    append(rnglists, listTable({}, {0x00}, 0x100));      // past the section
    const std::string text =
        listSections({{".debug_ranges", ranges}, {".debug_rnglists", rnglists}}, "-iv");
    EXPECT_TRUE(Contains(text, "  List at 0x0\n"
                               "    0000000000000010  0000000000000020\n"
                               "    base address      0000000140001000\n"
                               "    end\n"
                               "  List at 0x30\n"
                               "    0000000000000030  0000000000000040\n"
                               "  ** the last list runs to the end of the section"));
    EXPECT_TRUE(Contains(
        text, "  Table at 0x0: length 0x41, 32-bit DWARF, version 5\n"
              "    address size 8, segment selector size 0, 2 offsets\n"
              "    offsets[0]  0x8 (list at 0x14)\n"
              "    offsets[1]  0xC (list at 0x18)\n"
              "  List at 0x14\n"
              "    DW_RLE_offset_pair      0x10, 0x20\n"
              "    DW_RLE_end_of_list\n"
              "  List at 0x18\n"
              "    DW_RLE_base_addressx    0x2\n"
              "    DW_RLE_startx_endx      0x3, 0x4\n"
              "    DW_RLE_startx_length    0x5, 0x10\n"
              "    DW_RLE_base_address     0x1000\n"
              "    DW_RLE_start_end        0x2000, 0x2100  [0000000000002000, 0000000000002100)\n"
              "    DW_RLE_start_length     0x3000, 0x8  [0000000000003000, 0000000000003008)\n"
              "    DW_RLE_end_of_list\n"));
    EXPECT_TRUE(Contains(text, "    DW_RLE_offset_pair      0x1, 0x2\n"
                               "  ** unknown entry kind 0x09"));
    EXPECT_TRUE(Contains(text, "** the last list runs to the end of the table without"));
    EXPECT_TRUE(Contains(text, "** the length 0x100 runs past the end of the section"));
    EXPECT_EQ(reports(text).size(), 4u) << text;
}

TEST(DwarfLocationLists, EveryEntryKindAndTheirDamage)
{
    Data loclists = listTable({}, {
                                      0x04, 0x10, 0x20, 0x01, 0x50,       // offset_pair: reg0
                                      0x09, 0x01, 0x02,                   // GNU_view_pair
                                      0x03, 0x01, 0x08, 0x02, 0x31, 0x9F, // startx_length
                                      0x05, 0x01, 0x53,                   // default_location
                                      0x06, 0,    0x10, 0,    0,    0,    0, 0, 0, // base_address
                                      0x08, 0,    0x20, 0,    0,    0,    0, 0, 0, // start_length
                                      0x04, 0x00,                                  //   empty
                                      0x00,                                        // end_of_list
                                  });
    append(loclists, listTable({}, {0x04, 0x10, 0x20, 0x10, 0x50})); // expression too long
    append(loclists,
           listTable({}, {0x04, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}));
    Data loc;
    appendLittle(loc, 0x10, 8);
    appendLittle(loc, 0x20, 8);
    appendLittle(loc, 0x40, 2); // past the section
    loc.push_back(0x50);
    const std::string text =
        listSections({{".debug_loclists", loclists}, {".debug_loc", loc}}, "-iw");
    EXPECT_TRUE(Contains(
        text, "  List at 0xC\n"
              "    DW_LLE_offset_pair      0x10, 0x20: DW_OP_reg0 RAX\n"
              "    DW_LLE_GNU_view_pair    0x1, 0x2\n"
              "    DW_LLE_startx_length    0x1, 0x8: DW_OP_lit1, "
              "DW_OP_stack_value\n"
              "    DW_LLE_default_location: DW_OP_reg3 RBX\n"
              "    DW_LLE_base_address     0x1000\n"
              "    DW_LLE_start_length     0x2000, 0x4  [0000000000002000, 0000000000002004): "
              "empty\n"
              "    DW_LLE_end_of_list\n"));
    EXPECT_TRUE(Contains(text, "    DW_LLE_offset_pair      0x10, 0x20\n"
                               "  ** the expression's length 0x10 runs past the end"));
    EXPECT_TRUE(Contains(text, "** DW_LLE_offset_pair: an over-long LEB128"));
    EXPECT_TRUE(Contains(text, "    0000000000000010  0000000000000020\n"
                               "  ** the expression's length 0x40 runs past the end"));
    EXPECT_EQ(reports(text).size(), 3u) << text;
}

// A unit of .debug_info: its length, then header (from the version on) and
// entries, which start with the unit entry: its abbreviation, then low_pc
// and loclists_base as given.
Data unit(const Data& header, std::uint64_t lowPc, std::uint32_t loclistsBase, const Data& entries)
{
    Data info;
    appendLittle(info, header.size() + 13 + entries.size(), 4);
    append(info, header);
    info.push_back(1);
    appendLittle(info, lowPc, 8);
    appendLittle(info, loclistsBase, 4);
    append(info, entries);
    return info;
}

// Lists are read where .debug_info says they start: GCC writes the view
// numbers of a location list before it, which nothing in .debug_loc marks.
TEST(DwarfListReferences, ListsWhereTheUnitsPointAndTheirDamage)
{
    const Data abbrev = {
        1, 0x11, 1, 0x11, 0x01, 0x8C, 0x01, 0x17, 0, 0, // unit: low_pc, loclists_base
        2, 0x34, 0, 0x02, 0x17, 0xB7, 0x42, 0x17, 0, 0, // location, GNU_locviews
        3, 0x34, 0, 0x02, 0x17, 0,    0,                // location only
        4, 0x34, 0, 0x02, 0x22, 0,    0,                // location by its index
        0,
    };
    // A version 4 unit based at 0x1000: a variable with views at 0 and its
    // list at 5, another whose list lies past the section.
    const Data info =
        unit({4, 0, 0, 0, 0, 0, 8}, 0x1000, 0, {2, 5, 0, 0, 0, 0, 0, 0, 0, 3, 0x00, 0x10, 0, 0, 0});
    Data loc = {0, 0, 1, 2, 3}; // views: the third pair runs into the list
    append(loc, locationList({0x50}));
    append(loc, {0xAB, 0xAB, 0xAB, 0xAB}); // nothing points here
    const std::string text = listSections(
        {{".debug_abbrev", abbrev}, {".debug_info", info}, {".debug_loc", loc}}, "-iw");
    EXPECT_TRUE(Contains(text, "  Views at 0x0 (of the list at 0x5)\n"
                               "    view 0, 0\n"
                               "    view 1, 2\n"
                               "  ** a view pair that runs into the next list"));
    EXPECT_TRUE(Contains(text, "  List at 0x5\n"
                               "    0000000000000010  0000000000000020  "
                               "[0000000000001010, 0000000000001020)  DW_OP_reg0 RAX\n"
                               "    end\n"
                               "  0x28 to 0x2C: not referenced by .debug_info\n"));
    EXPECT_TRUE(Contains(text, "** a list at 0x1000, past the end of the section"));
    EXPECT_EQ(reports(text).size(), 2u) << text;

    // A version 5 unit based at 0x2000 whose lists are found by their index
    // in the table at its DW_AT_loclists_base: 0 is there, 5 is not.
    const Data info5 = unit({5, 0, 1, 8, 0, 0, 0, 0}, 0x2000, 12, {4, 0, 4, 5, 0});
    const Data loclists =
        listTable({8}, {0xEE, 0xEE, 0xEE, 0xEE, 0x04, 0x10, 0x20, 0x01, 0x50, 0x00});
    const std::string text5 = listSections(
        {{".debug_abbrev", abbrev}, {".debug_info", info5}, {".debug_loclists", loclists}}, "-iw");
    EXPECT_TRUE(Contains(text5, "    offsets[0]  0x8 (list at 0x14)\n"
                                "  0x10 to 0x14: not referenced by .debug_info\n"
                                "  List at 0x14\n"
                                "    DW_LLE_offset_pair      0x10, 0x20  "
                                "[0000000000002010, 0000000000002020): DW_OP_reg0 RAX\n"
                                "    DW_LLE_end_of_list\n"));
    EXPECT_TRUE(Contains(text5, "** a location list index 5 past the unit's offsets table"));
    EXPECT_EQ(reports(text5).size(), 1u) << text5;
}

} // namespace
} // namespace tdump::test
