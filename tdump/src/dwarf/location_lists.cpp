#include "dwarf/dwarf.h"

#include <array>

#include "dwarf/lists_table.h"

namespace tdump::dwarf {
namespace {

using enum ListOperand;

constexpr auto locationEntryKinds = std::to_array<ListEntryKind>({
    {"DW_LLE_end_of_list"},
    {"DW_LLE_base_addressx", uleb},
    {"DW_LLE_startx_endx", uleb, uleb, true},
    {"DW_LLE_startx_length", uleb, uleb, true},
    {"DW_LLE_offset_pair", uleb, uleb, true},
    {"DW_LLE_default_location", none, none, true},
    {"DW_LLE_base_address", address},
    {"DW_LLE_start_end", address, address, true},
    {"DW_LLE_start_length", address, uleb, true},
    // GCC's -gvariable-location-views=incompat5: the views of the next entry.
    {"DW_LLE_GNU_view_pair", uleb, uleb},
});

} // namespace

void listLocationLists(const Sections& sections, Output& out, const Options&)
{
    const auto references = collectListReferences(sections, out);
    if (const Section* section = sections.find(".debug_loc")) {
        heading(out, ".debug_loc");
        listAddressPairLists(*section, out, sections, true,
                             referencesInto(references, false, false));
    }
    if (const Section* section = sections.find(".debug_loclists")) {
        heading(out, ".debug_loclists");
        listListTables(*section, out, locationEntryKinds, sections.machine(),
                       referencesInto(references, false, true));
    }
}

} // namespace tdump::dwarf
