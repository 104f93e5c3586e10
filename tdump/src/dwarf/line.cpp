#include "dwarf/dwarf.h"

namespace tdump::dwarf {

void listLines(const Sections& sections, Output& out, const Options&)
{
    if (const Section* section = sections.find(".debug_line")) {
        heading(out, ".debug_line");
        out << "  " << dec(section->view.size()) << " bytes, not decoded yet\n";
    }
}

} // namespace tdump::dwarf
