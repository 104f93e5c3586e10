#include "dwarf/dwarf.h"

#include <array>

#include "dwarf/lists_table.h"

namespace tdump::dwarf {
namespace {

using enum ListOperand;

constexpr auto rangeEntryKinds = std::to_array<ListEntryKind>({
    {"DW_RLE_end_of_list"},
    {"DW_RLE_base_addressx", uleb},
    {"DW_RLE_startx_endx", uleb, uleb},
    {"DW_RLE_startx_length", uleb, uleb},
    {"DW_RLE_offset_pair", uleb, uleb},
    {"DW_RLE_base_address", address},
    {"DW_RLE_start_end", address, address},
    {"DW_RLE_start_length", address, uleb},
});

} // namespace

void listRangeLists(const Sections& sections, Output& out, const Options&)
{
    const auto references = collectListReferences(sections, out);
    if (const Section* section = sections.find(".debug_ranges")) {
        heading(out, ".debug_ranges");
        listAddressPairLists(*section, out, sections, false,
                             referencesInto(references, true, false));
    }
    if (const Section* section = sections.find(".debug_rnglists")) {
        heading(out, ".debug_rnglists");
        listListTables(*section, out, rangeEntryKinds, sections.machine(),
                       referencesInto(references, true, true));
    }
}

} // namespace tdump::dwarf
