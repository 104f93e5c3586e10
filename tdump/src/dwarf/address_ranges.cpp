#include "dwarf/dwarf.h"

namespace tdump::dwarf {

void listAddressRanges(const Sections& sections, Output& out, const Options&)
{
    if (const Section* section = sections.find(".debug_aranges")) {
        heading(out, ".debug_aranges");
        out << "  " << dec(section->view.size()) << " bytes, not decoded yet\n";
    }
}

} // namespace tdump::dwarf
