#pragma once

// The walks .debug_ranges and .debug_loc (DWARF 2 to 4) share, and those of
// .debug_rnglists and .debug_loclists (DWARF 5): the range lists are the
// location lists without their expressions.

#include <cstdint>
#include <span>
#include <string_view>

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
// lists one after the other, each up to its end-of-list entry (code 0).
void listListTables(const Section& section, Output& out, std::span<const ListEntryKind> kinds,
                    std::uint16_t machine);

// Lists the DWARF 2 to 4 lists of section: pairs of addresses (the target's
// address size), each followed by an expression (2-byte length) when
// located; a pair of zeros ends a list, an all-ones start selects a base.
void listAddressPairLists(const Section& section, Output& out, const Sections& sections,
                          bool located);

} // namespace tdump::dwarf
