#include "dwarf/dwarf.h"

namespace tdump::dwarf {

void listInfo(const Sections& sections, Output& out, const Options&)
{
    if (const Section* section = sections.find(".debug_info")) {
        heading(out, ".debug_info");
        out << "  " << dec(section->view.size()) << " bytes, not decoded yet\n";
    }
}

} // namespace tdump::dwarf
