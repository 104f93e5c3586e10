#include "dwarf/dwarf.h"

namespace tdump::dwarf {

void listFrames(const Sections& sections, Output& out, const Options&)
{
    if (const Section* section = sections.find(".debug_frame")) {
        heading(out, ".debug_frame");
        out << "  " << dec(section->view.size()) << " bytes, not decoded yet\n";
    }
}

} // namespace tdump::dwarf
