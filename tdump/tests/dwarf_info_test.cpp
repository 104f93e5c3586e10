// .debug_info: a whole version 5 unit (indexed strings and addresses, type
// names composed from their parts), then damaged units, one at a time, each
// reported where it is found while the listing goes on to the next unit.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "coff/coff.h"
#include "image_builder.h"
#include "test_support.h"

namespace tdump::test {
namespace {

// Bytes of DWARF as a producer writes them.
struct Dwarf {
    std::vector<std::uint8_t> bytes;

    std::size_t size() const { return bytes.size(); }
    Dwarf& u8(std::uint64_t value) { return little(value, 1); }
    Dwarf& u16(std::uint64_t value) { return little(value, 2); }
    Dwarf& u32(std::uint64_t value) { return little(value, 4); }
    Dwarf& little(std::uint64_t value, unsigned size)
    {
        for (unsigned i = 0; i < size; ++i) {
            bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        }
        return *this;
    }
    Dwarf& uleb(std::uint64_t value)
    {
        for (; value >= 0x80; value >>= 7) {
            bytes.push_back(static_cast<std::uint8_t>(0x80 | (value & 0x7F)));
        }
        bytes.push_back(static_cast<std::uint8_t>(value));
        return *this;
    }
    Dwarf& text(std::string_view s)
    {
        bytes.insert(bytes.end(), s.begin(), s.end());
        bytes.push_back(0);
        return *this;
    }
    Dwarf& raw(const std::vector<std::uint8_t>& more)
    {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
    // An abbreviation: code, tag, children, then (attribute, form) pairs.
    Dwarf& abbreviation(std::uint64_t code, std::uint64_t tag, bool children,
                        const std::vector<std::pair<std::uint64_t, std::uint64_t>>& attributes)
    {
        uleb(code).uleb(tag).u8(children ? 1 : 0);
        for (const auto& [name, form] : attributes) {
            uleb(name).uleb(form);
        }
        return uleb(0).uleb(0);
    }
    // Fills in the 32-bit length of the unit or table that starts at start.
    void close(std::size_t start)
    {
        const std::size_t length = bytes.size() - start - 4;
        for (unsigned i = 0; i < 4; ++i) {
            bytes[start + i] = static_cast<std::uint8_t>(length >> (8 * i));
        }
    }
};

// DW_TAG_*, DW_AT_* and DW_FORM_* the tests write.
constexpr std::uint64_t tagArray = 0x01, tagPointer = 0x0F, tagStructure = 0x13, tagSubrange = 0x21,
                        tagBase = 0x24, tagConst = 0x26, tagVariable = 0x34, tagNamespace = 0x39,
                        tagCompileUnit = 0x11;
constexpr std::uint64_t atName = 0x03, atByteSize = 0x0B, atLanguage = 0x13, atLowPc = 0x11,
                        atHighPc = 0x12, atProducer = 0x25, atCount = 0x37, atEncoding = 0x3E,
                        atType = 0x49, atStrOffsetsBase = 0x72, atAddrBase = 0x73,
                        atConstValue = 0x1C;
constexpr std::uint64_t formData4 = 0x06, formString = 0x08, formData1 = 0x0B, formStrp = 0x0E,
                        formUdata = 0x0F, formRef4 = 0x13, formSecOffset = 0x17,
                        formLineStrp = 0x1F, formStrx1 = 0x25, formAddrx = 0x1B,
                        formGnuAddrIndex = 0x1F01, formGnuStrIndex = 0x1F02;

std::string listDwarf(const std::vector<ObjectSection>& sections)
{
    return listing(makeObject(machineAmd64, sections, {}).bytes.data, {"-ib"});
}

// A version 4 unit header (abbreviations at abbreviationOffset, 8-byte
// addresses); close() it after its entries.
std::size_t openUnit4(Dwarf& info, std::uint64_t abbreviationOffset = 0, unsigned version = 4)
{
    const std::size_t start = info.size();
    info.u32(0).u16(version).u32(abbreviationOffset).u8(8);
    return start;
}

TEST(DwarfInfo, AWholeUnitWithIndexedStringsAndComposedTypeNames)
{
    Dwarf abbrev;
    abbrev
        .abbreviation(1, tagCompileUnit, true,
                      {{atProducer, formStrx1},
                       {atStrOffsetsBase, formSecOffset},
                       {atAddrBase, formSecOffset},
                       {atLanguage, formData1},
                       {atLowPc, formAddrx},
                       {atHighPc, formData4}})
        .abbreviation(2, tagBase, false,
                      {{atName, formStrp}, {atEncoding, formData1}, {atByteSize, formData1}})
        .abbreviation(3, tagConst, false, {{atType, formRef4}})
        .abbreviation(4, tagPointer, false, {{atType, formRef4}})
        .abbreviation(5, tagVariable, false,
                      {{atName, formString}, {atType, formRef4}, {atConstValue, formUdata}})
        .abbreviation(6, tagNamespace, true, {{atName, formString}})
        .abbreviation(7, tagStructure, false, {{atName, formString}})
        .abbreviation(8, tagArray, true, {{atType, formRef4}})
        .abbreviation(9, tagSubrange, false, {{atCount, formData1}})
        .u8(0);
    Dwarf str;
    str.text("").text("int").text("GNU C17");
    Dwarf strOffsets; // version 5 header, then the offset of "GNU C17"
    strOffsets.u32(8).u16(5).u16(0).u32(5);
    Dwarf addr; // version 5 header, then 0x140001000
    addr.u32(12).u16(5).u8(8).u8(0).little(0x140001000, 8);

    Dwarf info;
    const std::size_t unit = info.size();
    info.u32(0).u16(5).u8(1).u8(8).u32(0);
    // The producer's index comes before the base it counts from.
    info.uleb(1).u8(0).u32(8).u32(8).u8(0x21).uleb(0).u32(0x20);
    const std::size_t intType = info.size();
    info.uleb(2).u32(1).u8(5).u8(4);
    const std::size_t constInt = info.size();
    info.uleb(3).u32(static_cast<std::uint32_t>(intType));
    const std::size_t pointer = info.size();
    info.uleb(4).u32(static_cast<std::uint32_t>(constInt));
    info.uleb(5).text("p").u32(static_cast<std::uint32_t>(pointer)).uleb(300);
    info.uleb(6).text("ns");
    const std::size_t structure = info.size();
    info.uleb(7).text("S").u8(0);
    info.uleb(5).text("s").u32(static_cast<std::uint32_t>(structure)).uleb(1);
    const std::size_t array = info.size();
    info.uleb(8).u32(static_cast<std::uint32_t>(intType)).uleb(9).u8(4).u8(0);
    info.uleb(5).text("a").u32(static_cast<std::uint32_t>(array)).uleb(2);
    info.u8(0);
    info.close(unit);

    const std::string text = listDwarf({{".debug_abbrev", abbrev.bytes},
                                        {".debug_info", info.bytes},
                                        {".debug_str", str.bytes},
                                        {".debug_str_offsets", strOffsets.bytes},
                                        {".debug_addr", addr.bytes}});
    EXPECT_TRUE(reports(text).empty()) << text;
    EXPECT_TRUE(Contains(text, "Unit at 00000000: version 5 compile, 32-bit"));
    EXPECT_TRUE(Contains(text, "addresses of 8 bytes"));
    EXPECT_TRUE(Contains(text, "\"GNU C17\""));
    EXPECT_TRUE(Contains(text, "C_plus_plus_14"));
    EXPECT_TRUE(Contains(text, "[0] 0000000140001000"));
    EXPECT_TRUE(Contains(text, "00000020 (ends at 0000000140001020)"));
    EXPECT_TRUE(Contains(text, "signed"));
    EXPECT_TRUE(Contains(text, "\"const int *\""));
    EXPECT_TRUE(Contains(text, "\"ns::S\""));
    EXPECT_TRUE(Contains(text, "\"int[4]\""));
    EXPECT_TRUE(Contains(text, "12C"));
    EXPECT_TRUE(Contains(text, "      structure_type"));
}

TEST(DwarfInfo, TypeUnitsAnd64BitUnits)
{
    constexpr std::uint64_t tagTypeUnit = 0x41;
    Dwarf abbrev;
    abbrev.abbreviation(1, tagTypeUnit, true, {})
        .abbreviation(2, tagBase, false, {{atName, formStrp}})
        .u8(0);
    Dwarf info;
    // A version 5 type unit: its signature, then where its type is.
    const std::size_t typeUnit = info.size();
    info.u32(0).u16(5).u8(2).u8(8).u32(0).little(0x0123456789ABCDEF, 8).u32(25);
    info.uleb(1).uleb(2).u32(1).u8(0);
    info.close(typeUnit);
    // A 64-bit version 4 unit: its offsets, strp's among them, of 8 bytes.
    const std::size_t wide = info.size();
    info.u32(0xFFFFFFFF).little(0, 8).u16(4).little(0, 8).u8(8);
    info.uleb(1).uleb(2).little(5, 8).u8(0);
    const std::size_t wideLength = info.size() - wide - 12;
    for (unsigned i = 0; i < 8; ++i) {
        info.bytes[wide + 4 + i] = static_cast<std::uint8_t>(wideLength >> (8 * i));
    }
    Dwarf str;
    str.text("").text("int").text("long");

    const std::string text = listDwarf(
        {{".debug_abbrev", abbrev.bytes}, {".debug_info", info.bytes}, {".debug_str", str.bytes}});
    EXPECT_TRUE(reports(text).empty()) << text;
    EXPECT_TRUE(Contains(text, "version 5 type, 32-bit"));
    EXPECT_TRUE(Contains(text, "signature 0123456789ABCDEF, type at 00000019"));
    EXPECT_TRUE(Contains(text, "base_type"));
    EXPECT_TRUE(Contains(text, "\"int\""));
    EXPECT_TRUE(Contains(text, "version 4, 64-bit"));
    EXPECT_TRUE(Contains(text, "\"long\""));
}

// The abbreviations every damaged case uses: a compile unit named by a
// string, and a variable whose one attribute has the form under test.
Dwarf damageAbbreviations(std::uint64_t variableForm)
{
    Dwarf abbrev;
    abbrev.abbreviation(1, tagCompileUnit, true, {{atName, formString}})
        .abbreviation(2, tagVariable, false, {{atName, variableForm}})
        .abbreviation(3, tagVariable, false, {{atType, formRef4}})
        .u8(0);
    return abbrev;
}

// A whole unit named "next", which each damaged one is followed by.
void appendNextUnit(Dwarf& info)
{
    const std::size_t unit = openUnit4(info);
    info.uleb(1).text("next").u8(0);
    info.close(unit);
}

struct DamageCase {
    std::string what;
    std::uint64_t variableForm;
    std::vector<std::uint8_t> variableValue; // the bytes after the variable's code
    std::string report;
};

TEST(DwarfInfo, DamagedAttributesAreReportedAndTheListingGoesOn)
{
    const std::vector<DamageCase> cases = {
        {"string offset", formStrp, {0x99, 0x09, 0, 0}, "string offset past the end of .debug_str"},
        {"line string offset",
         formLineStrp,
         {0x99, 0x09, 0, 0},
         "string offset past the end of .debug_line_str"},
        {"string index",
         formGnuStrIndex,
         {0x30},
         "string index past the end of .debug_str_offsets"},
        {"address index", formGnuAddrIndex, {0x09}, "address index past the end of .debug_addr"},
        {"over-long LEB128",
         formUdata,
         {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01},
         "an attribute that cannot be read: an over-long LEB128"},
        {"unknown form", 0x7F, {}, "an unknown form 0x7F"},
    };
    for (const DamageCase& c : cases) {
        SCOPED_TRACE(c.what);
        Dwarf info;
        const std::size_t unit = openUnit4(info);
        info.uleb(1).text("first").uleb(2).raw(c.variableValue).u8(0).u8(0);
        info.close(unit);
        appendNextUnit(info);
        const std::string text =
            listDwarf({{".debug_abbrev", damageAbbreviations(c.variableForm).bytes},
                       {".debug_info", info.bytes},
                       {".debug_str", {0, 'x', 0}},
                       {".debug_line_str", {0, 'y', 0}},
                       {".debug_str_offsets", std::vector<std::uint8_t>(8)},
                       {".debug_addr", std::vector<std::uint8_t>(8)}});
        ASSERT_EQ(reports(text).size(), 1u) << text;
        EXPECT_TRUE(Contains(reports(text)[0], c.report));
        EXPECT_TRUE(Contains(text, "\"next\""));
    }
}

TEST(DwarfInfo, DamagedUnitsAreReportedAndTheNextUnitListed)
{
    struct UnitCase {
        std::string what;
        unsigned version;
        std::uint64_t abbreviationOffset;
        std::vector<std::uint8_t> entries;
        std::string report;
    };
    const std::vector<UnitCase> cases = {
        {"missing abbreviation", 4, 0, {1, 'u', 0, 9, 0}, "abbreviation code 9, which the unit's"},
        {"abbreviations past their section",
         4,
         0x500,
         {1, 'u', 0, 0},
         "an abbreviation offset past the end of .debug_abbrev"},
        {"unknown version", 7, 0, {1, 'u', 0, 0}, "a DWARF version this program does not read"},
        {"reference outside the unit",
         4,
         0,
         {1, 'u', 0, 3, 0, 4, 0, 0, 0},
         "a reference outside its unit"},
    };
    for (const UnitCase& c : cases) {
        SCOPED_TRACE(c.what);
        Dwarf info;
        const std::size_t unit = openUnit4(info, c.abbreviationOffset, c.version);
        info.raw(c.entries);
        info.close(unit);
        appendNextUnit(info);
        const std::string text =
            listDwarf({{".debug_abbrev", damageAbbreviations(formString).bytes},
                       {".debug_info", info.bytes}});
        ASSERT_FALSE(reports(text).empty()) << text;
        EXPECT_TRUE(Contains(reports(text)[0], c.report));
        EXPECT_TRUE(Contains(text, "\"next\""));
    }
}

TEST(DwarfInfo, LengthsAndAbbreviationsPastTheirSectionsAreReported)
{
    Dwarf info;
    openUnit4(info);
    info.uleb(1).text("cut").u8(0);
    info.bytes[0] = 0x00; // a length of 0x1000: past the section
    info.bytes[1] = 0x10;
    const std::string cut = listDwarf(
        {{".debug_abbrev", damageAbbreviations(formString).bytes}, {".debug_info", info.bytes}});
    ASSERT_EQ(reports(cut).size(), 1u) << cut;
    EXPECT_TRUE(Contains(reports(cut)[0], "runs past the end of .debug_info"));
    EXPECT_TRUE(Contains(cut, "\"cut\""));

    // The abbreviations end inside an over-long LEB128: those before it
    // still serve.
    Dwarf abbrev;
    abbrev.abbreviation(1, tagCompileUnit, true, {{atName, formString}})
        .raw({2, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01});
    Dwarf whole;
    const std::size_t unit = openUnit4(whole);
    whole.uleb(1).text("kept").u8(0);
    whole.close(unit);
    const std::string damaged =
        listDwarf({{".debug_abbrev", abbrev.bytes}, {".debug_info", whole.bytes}});
    ASSERT_EQ(reports(damaged).size(), 1u) << damaged;
    EXPECT_TRUE(Contains(reports(damaged)[0], "the abbreviations end early: an over-long LEB128"));
    EXPECT_TRUE(Contains(damaged, "\"kept\""));
}

TEST(DwarfInfo, DeepNestingIsReportedOnceAndIndentedNoFurther)
{
    Dwarf abbrev;
    abbrev.abbreviation(1, tagCompileUnit, true, {{atName, formString}})
        .abbreviation(2, tagNamespace, true, {})
        .abbreviation(3, tagVariable, false, {{atName, formString}})
        .u8(0);
    Dwarf info;
    const std::size_t unit = openUnit4(info);
    info.uleb(1).text("deep");
    constexpr unsigned levels = 200;
    for (unsigned i = 0; i < levels; ++i) {
        info.uleb(2);
    }
    info.uleb(3).text("innermost");
    for (unsigned i = 0; i <= levels; ++i) {
        info.u8(0);
    }
    info.close(unit);
    appendNextUnit(info);
    const std::string text =
        listDwarf({{".debug_abbrev", abbrev.bytes}, {".debug_info", info.bytes}});
    ASSERT_EQ(reports(text).size(), 1u) << text;
    EXPECT_TRUE(Contains(reports(text)[0], "nested deeper than 64 levels"));
    EXPECT_TRUE(Contains(text, std::string(130, ' ') + "variable"));
    EXPECT_TRUE(Lacks(text, std::string(131, ' ') + "variable"));
    EXPECT_TRUE(Contains(text, "\"innermost\""));
    EXPECT_TRUE(Contains(text, "\"next\""));
}

} // namespace
} // namespace tdump::test
