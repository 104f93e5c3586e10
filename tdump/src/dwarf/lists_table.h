#pragma once

// The walks .debug_ranges and .debug_loc (DWARF 2 to 4) share, and those of
// .debug_rnglists and .debug_loclists (DWARF 5): the range lists are the
// location lists without their expressions.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "dwarf/cursor.h"
#include "dwarf/dwarf.h"

namespace tdump::dwarf {

// How an operand of a DWARF 5 list entry is encoded.
enum class ListOperand : std::uint8_t { none, uleb, address };

// A kind of entry of .debug_rnglists (DW_RLE_*) or .debug_loclists (DW_LLE_*),
// by its code.
struct ListEntryKind {
    std::string_view name; // empty: no such kind
    ListOperand first = ListOperand::none;
    ListOperand second = ListOperand::none;
    // A location description follows: a ULEB128 length and an expression.
    bool located = false;
};

// Where .debug_info says a list starts: the only reliable starts, as GCC
// writes view lists between the location lists that nothing marks.
struct ListReference {
    enum class Kind : std::uint8_t { locations, views, ranges };
    std::uint64_t offset = 0; // in .debug_loc, .debug_loclists, .debug_ranges, .debug_rnglists
    Kind kind = Kind::locations;
    std::uint8_t version = 4; // of the unit: 5 points into the DWARF 5 sections
    std::uint8_t addressSize = 8;
    std::uint8_t offsetSize = 4;
    std::uint64_t base = 0; // the unit's base address (its DW_AT_low_pc)
    // Views: the location list of the same entry, whose entries they number.
    std::optional<std::uint64_t> locations;
};

// The list references of every unit of .debug_info, sorted by offset, one
// per offset, kind and section; empty without .debug_info. Indexes
// (DW_FORM_loclistx, DW_FORM_rnglistx) are resolved through the unit's
// offsets table; those that cannot be are reported to out.
std::vector<ListReference> collectListReferences(const Sections& sections, Output& out);

// Of references (sorted), those into the range lists or the location lists
// (with their views), of DWARF 5 or of 2 to 4.
std::vector<ListReference> referencesInto(std::span<const ListReference> references, bool ranges,
                                          bool version5);

// Where a table or set ends whose length, read at lengthAt (a file offset),
// ends at afterLength: after that length, or at the end of the section
// when the length runs past it (reported).
std::uint64_t tableEnd(Output& out, const View& section, std::uint64_t afterLength,
                       const InitialLength& length, std::uint64_t lengthAt);

// Starts the line of a table's or set's header: what it is, where, its
// length and format, its version.
void writeTableStart(Output& out, std::string_view what, std::uint64_t offset,
                     const InitialLength& length, unsigned version);

// Lists the DWARF 5 tables of section: each header and its offsets, then its
// lists, each up to its end-of-list entry (code 0): those references (sorted
// by offset) point at, or, without any, one after the other.
void listListTables(const Section& section, Output& out, std::span<const ListEntryKind> kinds,
                    std::uint16_t machine, std::span<const ListReference> references);

// Lists the DWARF 2 to 4 lists of section: pairs of addresses (the target's
// address size), each followed by an expression (2-byte length) when
// located; a pair of zeros ends a list, an all-ones start selects a base.
// The lists references point at, or, without any, one after the other.
void listAddressPairLists(const Section& section, Output& out, const Sections& sections,
                          bool located, std::span<const ListReference> references);

} // namespace tdump::dwarf
