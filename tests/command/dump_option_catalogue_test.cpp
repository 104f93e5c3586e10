#include "dump_option_catalogue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quellan {
namespace {

// Written out independently of the catalogue's own table: the caption as the
// option button must show it, and the switch that must reach the command.
struct ExpectedRow {
    const char* caption;
    const char* passedSwitch;
};

const std::vector<ExpectedRow> expected = {
    {"-a      ASCII file display", "-a"},
    {"-a7     Display file in 7-Bit mode", "-a7"},
    {"-b#     Offset into file for display", "-b#"},
    {"-C      Dump COFF format in OBJ or LIB file", "-C"},
    {"-d      Dump 32bit debug information in OBJs", "-d"},
    {"-e      Force Executable file display", "-e"},
    {"-eiID   Include only .EXE table ID (HDR, OBJ, FIX, NAM, ENT)", "-eiID"},
    {"-ee[=x] List Exports only from EXE/DLL (opt. string x lists matches only)", "-ee"},
    {"-em[=x] List Imports only from EXE/DLL (opt. string x lists matches only)", "-em"},
    {"-em.[x] List Imported modules only from EXE/DLL (opt. search string)", "-em."},
    {"-ed     Disable EXE debug info display", "-ed"},
    {"-el     Disable EXE line number display", "-el"},
    {"-er     Disable EXE relocation record display", "-er"},
    {"-ex     Disable New Executable Display", "-ex"},
    {"-h      Force hexadecimal file display", "-h"},
    {"-iID    Include debug table(s) \"ID\" (ID=[?/abc...rst])", "-iID"},
    {"-l      Library format file Display", "-l"},
    {"-li[=x] Dump IMPDEF records (optional string x lists matches only)", "-li"},
    {"-m      Disable C++ name de-mangling", "-m"},
    {"-o      Force .OBJ format file display", "-o"},
    {"-oc     CRC Check .OBJ file records", "-oc"},
    {"-oiID   Include .OBJ file record \"ID\" (ID=? for a list of record names)", "-oiID"},
    {"-oxID   Exclude .OBJ file record \"ID\" (ID=? for a list of record names)", "-oxID"},
    {"-xID    Exclude debug table(s) \"ID\" (ID=[?/abc...rst])", "-xID"},
    {"-r      Do raw dump of selected record contents", "-r"},
    {"-R      Dump PE relocation table", "-R"},
    {"-v      Do verbose dump of selected record contents", "-v"},
    {"-um     Assume each line in file is a mangled name and unmangle", "-um"},
};

// Iterated in row order, each row shows its designed caption and passes its
// designed switch; looked up by number, the same.
TEST(DumpOptionCatalogue, EveryRowMatchesTheDesignedCaptionAndSwitch)
{
    ASSERT_EQ(DumpOptionCatalogue::rowCount, 28);
    std::size_t index = 0;
    for (const DumpOption& option : DumpOptionCatalogue()) {
        ASSERT_LT(index, expected.size());
        const ExpectedRow& want = expected[index++];
        SCOPED_TRACE(want.caption);
        EXPECT_EQ(option.row, static_cast<int>(index));
        EXPECT_EQ(DumpOptionCatalogue::caption(option.row), want.caption);
        EXPECT_EQ(option.passedSwitch, want.passedSwitch);
        EXPECT_EQ(DumpOptionCatalogue::passedSwitch(option.row), want.passedSwitch);
    }
    EXPECT_EQ(index, expected.size());
}

// The switch passed is the one shown less an optional part in brackets
// ("-ee[=x]" passes "-ee"); placeholders such as "#" and "ID" stay.
TEST(DumpOptionCatalogue, ThePassedSwitchIsTheShownOneWithoutItsOptionalPart)
{
    for (const DumpOption& option : DumpOptionCatalogue()) {
        const std::string_view shown = option.switchForm;
        EXPECT_EQ(option.passedSwitch, shown.substr(0, shown.find('['))) << shown;
    }
}

TEST(DumpOptionCatalogue, DefaultIsRowFifteenAndThereIsNoRowZero)
{
    EXPECT_EQ(DumpOptionCatalogue::defaultSwitch(), "-h");
    EXPECT_EQ(DumpOptionCatalogue::passedSwitch(15), "-h");
    EXPECT_THROW(DumpOptionCatalogue::passedSwitch(0), std::out_of_range);
    EXPECT_THROW(DumpOptionCatalogue::caption(29), std::out_of_range);
}

} // namespace
} // namespace quellan
