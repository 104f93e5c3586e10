#include "dwarf/dwarf.h"

namespace tdump::dwarf {

void listRangeLists(const Sections& sections, Output& out, const Options&)
{
    if (const Section* section = sections.find(".debug_ranges")) {
        heading(out, ".debug_ranges");
        out << "  " << dec(section->view.size()) << " bytes, not decoded yet\n";
    }
}

} // namespace tdump::dwarf
