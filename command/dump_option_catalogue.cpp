#include "dump_option_catalogue.h"

#include <stdexcept>

namespace quellan {
namespace {

// clang-format off
constexpr std::array<DumpOption, DumpOptionCatalogue::rowCount> rows{{
    {1, "-a", "ASCII file display", "-a"},
    {2, "-a7", "Display file in 7-Bit mode", "-a7"},
    {3, "-b#", "Offset into file for display", "-b#"},
    {4, "-C", "Dump COFF format in OBJ or LIB file", "-C"},
    {5, "-d", "Dump 32bit debug information in OBJs", "-d"},
    {6, "-e", "Force Executable file display", "-e"},
    {7, "-eiID", "Include only .EXE table ID (HDR, OBJ, FIX, NAM, ENT)", "-eiID"},
    {8, "-ee[=x]", "List Exports only from EXE/DLL (opt. string x lists matches only)", "-ee"},
    {9, "-em[=x]", "List Imports only from EXE/DLL (opt. string x lists matches only)", "-em"},
    {10, "-em.[x]", "List Imported modules only from EXE/DLL (opt. search string)", "-em."},
    {11, "-ed", "Disable EXE debug info display", "-ed"},
    {12, "-el", "Disable EXE line number display", "-el"},
    {13, "-er", "Disable EXE relocation record display", "-er"},
    {14, "-ex", "Disable New Executable Display", "-ex"},
    {15, "-h", "Force hexadecimal file display", "-h"},
    {16, "-iID", "Include debug table(s) \"ID\" (ID=[?/abc...rst])", "-iID"},
    {17, "-l", "Library format file Display", "-l"},
    {18, "-li[=x]", "Dump IMPDEF records (optional string x lists matches only)", "-li"},
    {19, "-m", "Disable C++ name de-mangling", "-m"},
    {20, "-o", "Force .OBJ format file display", "-o"},
    {21, "-oc", "CRC Check .OBJ file records", "-oc"},
    {22, "-oiID", "Include .OBJ file record \"ID\" (ID=? for a list of record names)", "-oiID"},
    {23, "-oxID", "Exclude .OBJ file record \"ID\" (ID=? for a list of record names)", "-oxID"},
    {24, "-xID", "Exclude debug table(s) \"ID\" (ID=[?/abc...rst])", "-xID"},
    {25, "-r", "Do raw dump of selected record contents", "-r"},
    {26, "-R", "Dump PE relocation table", "-R"},
    {27, "-v", "Do verbose dump of selected record contents", "-v"},
    {28, "-um", "Assume each line in file is a mangled name and unmangle", "-um"},
}};
// clang-format on

// Every switch form fits in 7 characters, so at least one blank follows it.
constexpr std::size_t switchFieldWidth = 8;

} // namespace

const DumpOption* DumpOptionCatalogue::begin()
{
    return rows.data();
}
const DumpOption* DumpOptionCatalogue::end()
{
    return rows.data() + rows.size();
}

const DumpOption& DumpOptionCatalogue::at(int row)
{
    if (row < 1 || row > rowCount) {
        throw std::out_of_range("dump option row out of range");
    }
    return rows[static_cast<std::size_t>(row - 1)];
}

std::string DumpOptionCatalogue::caption(int row)
{
    const DumpOption& option = at(row);
    std::string text(option.switchForm);
    text.resize(switchFieldWidth, ' ');
    text += option.description;
    return text;
}

std::string_view DumpOptionCatalogue::passedSwitch(int row)
{
    return at(row).passedSwitch;
}

std::string_view DumpOptionCatalogue::defaultSwitch()
{
    return passedSwitch(defaultRow);
}

} // namespace quellan
