#include "dwarf/dwarf.h"

namespace tdump::dwarf {

void listLocationLists(const Sections& sections, Output& out, const Options&)
{
    if (const Section* section = sections.find(".debug_loc")) {
        heading(out, ".debug_loc");
        out << "  " << dec(section->view.size()) << " bytes, not decoded yet\n";
    }
}

} // namespace tdump::dwarf
