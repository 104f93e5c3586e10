#pragma once

// DWARF, the debug information MinGW-w64's GCC and clang (windows-gnu)
// write into the .debug_* sections of COFF objects and PE images. The
// sections are read one by one, as each stands; what one needs of another
// (the abbreviations of .debug_info, the strings of .debug_str) it reads
// through Sections.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bytes.h"
#include "options.h"
#include "output.h"

namespace tdump::dwarf {

// One .debug_* section of the file.
struct Section {
    std::string name;
    View view; // its bytes in the file: in an image, no more than its virtual size
    // Where an image loads it; 0 in an object.
    std::uint64_t address = 0;
};

// The DWARF sections of one file, and what of the target they need.
class Sections {
public:
    // machine: the COFF machine, which sets the target's address size and
    // names its registers.
    Sections(std::vector<Section> sections, std::uint16_t machine);

    // The section of this name (".debug_info"), or nullptr.
    const Section* find(std::string_view name) const;
    const std::vector<Section>& all() const { return sections_; }
    std::uint16_t machine() const { return machine_; }
    // 4 or 8: for tables that do not say (.debug_loc, .debug_ranges, .debug_frame).
    unsigned addressSize() const { return addressSize_; }

private:
    std::vector<Section> sections_;
    std::uint16_t machine_;
    unsigned addressSize_;
};

// Whether name is a DWARF section's (.debug_info, .debug_line, ...), as
// opposed to CodeView's .debug$S and friends.
bool isDwarfSectionName(std::string_view name);

// Lists the DWARF tables -i and -x choose, each under its own heading.
void list(const Sections& sections, Output& out, const Options& options);

// The tables, each in a file of its own.
// .debug_info with .debug_abbrev: units and their entries (info.cpp).
void listInfo(const Sections& sections, Output& out, const Options& options);
// .debug_line: line program headers and rows (line.cpp).
void listLines(const Sections& sections, Output& out, const Options& options);
// .debug_aranges (address_ranges.cpp).
void listAddressRanges(const Sections& sections, Output& out, const Options& options);
// .debug_ranges and .debug_rnglists (range_lists.cpp).
void listRangeLists(const Sections& sections, Output& out, const Options& options);
// .debug_loc and .debug_loclists (location_lists.cpp).
void listLocationLists(const Sections& sections, Output& out, const Options& options);
// .debug_frame: CIEs and FDEs with their call-frame instructions (frame.cpp).
void listFrames(const Sections& sections, Output& out, const Options& options);

} // namespace tdump::dwarf
