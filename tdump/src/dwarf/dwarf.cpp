#include "dwarf/dwarf.h"

#include <algorithm>
#include <utility>

#include "coff/coff.h"

namespace tdump::dwarf {

Sections::Sections(std::vector<Section> sections, std::uint16_t machine)
    : sections_(std::move(sections)), machine_(machine),
      addressSize_(machine == machineI386 || machine == machineArmNt ? 4 : 8)
{
}

const Section* Sections::find(std::string_view name) const
{
    const auto found = std::find_if(sections_.begin(), sections_.end(),
                                    [&](const Section& s) { return s.name == name; });
    return found == sections_.end() ? nullptr : &*found;
}

bool isDwarfSectionName(std::string_view name)
{
    return name.starts_with(".debug_") || name.starts_with(".zdebug_");
}

void list(const Sections& sections, Output& out, const Options& options)
{
    heading(out, "DWARF sections");
    out << "  Name                 Size      Address\n";
    for (const Section& s : sections.all()) {
        out << "  " << column(printable(s.name), 20) << ' ' << hex(s.view.size()) << "  "
            << hex(s.address) << '\n';
    }
    struct Table {
        DebugTable table;
        void (*list)(const Sections&, Output&, const Options&);
    };
    constexpr Table tables[] = {
        {DebugTable::Symbols, listInfo},
        {DebugTable::Lines, listLines},
        {DebugTable::AddressRanges, listAddressRanges},
        {DebugTable::RangeLists, listRangeLists},
        {DebugTable::LocationLists, listLocationLists},
        {DebugTable::CallFrames, listFrames},
    };
    for (const Table& t : tables) {
        if (out.budget().exhausted()) {
            return;
        }
        if (options.debugTableSelected(t.table)) {
            t.list(sections, out, options);
        }
    }
}

} // namespace tdump::dwarf
