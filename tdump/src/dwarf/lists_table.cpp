#include "dwarf/lists_table.h"

#include <algorithm>
#include <optional>
#include <string>

#include "dwarf/cursor.h"
#include "dwarf/expression.h"

namespace tdump::dwarf {
namespace {

// A read that failed: what was being read and why.
void reportRead(Output& out, const Cursor& c, std::string_view what, std::uint64_t fileOffset)
{
    report(out, std::string(what) + ": " + std::string(c.failure()), fileOffset);
}

// Writes separator, then the expression of length bytes at the cursor on
// the current line, and moves the cursor past it; false after reporting an
// expression that runs past end.
bool writeLocation(Output& out, Cursor& c, std::uint64_t length, std::uint64_t end,
                   const ExpressionShape& shape, std::string_view separator)
{
    if (length > end - std::min(end, c.offset())) {
        out << '\n';
        report(out, "the expression's length 0x" + toHex(length) + " runs past the end",
               c.fileOffset());
        return false;
    }
    out << separator;
    if (length == 0) {
        out << "empty";
        return true;
    }
    writeExpression(out, c.view().sub(c.offset(), length), shape);
    c.skip(length);
    return true;
}

std::optional<std::uint64_t> readOperand(Cursor& c, ListOperand operand, unsigned addressSize)
{
    switch (operand) {
    case ListOperand::uleb:
        return c.uleb();
    case ListOperand::address:
        return c.fixed(addressSize);
    case ListOperand::none:
        break;
    }
    return 0;
}

// Charges the entry at the cursor to the budget; false when it is spent.
bool beginEntry(Output& out)
{
    if (out.budget().exhausted()) {
        return false;
    }
    out.budget().charge(entryCost);
    return true;
}

// Writes the addresses an entry gives: begin and end from base, when the
// base is known.
void writeAddresses(Output& out, bool known, std::uint64_t base, std::uint64_t begin,
                    std::uint64_t end, int digits)
{
    if (known) {
        out << "  [" << hex(base + begin, digits) << ", " << hex(base + end, digits) << ')';
    }
}

// One list of a DWARF 5 table at the cursor, up to its end-of-list entry;
// false when the listing of the table stops (damage, or the budget spent).
bool listTableList(Output& out, Cursor& c, std::uint64_t end, std::span<const ListEntryKind> kinds,
                   const ExpressionShape& shape, std::optional<std::uint64_t> unitBase)
{
    const int digits = static_cast<int>(shape.addressSize * 2);
    bool known = unitBase.has_value();
    std::uint64_t base = unitBase.value_or(0);
    while (c.offset() < end) {
        if (!beginEntry(out)) {
            return false;
        }
        const std::uint64_t at = c.fileOffset();
        const auto code = c.u8();
        if (!code) {
            reportRead(out, c, "an entry", at);
            return false;
        }
        if (*code >= kinds.size() || kinds[*code].name.empty()) {
            report(out, "unknown entry kind 0x" + toHex(*code, 2), at);
            return false;
        }
        const ListEntryKind& kind = kinds[*code];
        out << "    ";
        if (kind.first == ListOperand::none && !kind.located) {
            out << kind.name;
        } else {
            out << column(kind.name, 23);
        }
        const auto first = readOperand(c, kind.first, shape.addressSize);
        const auto second = first ? readOperand(c, kind.second, shape.addressSize) : std::nullopt;
        const auto length = second && kind.located ? c.uleb() : second;
        if (!length || c.offset() > end) {
            out << '\n';
            if (!length) {
                reportRead(out, c, std::string(kind.name), at);
            } else {
                report(out, std::string(kind.name) + " runs past the end of the table", at);
            }
            return false;
        }
        if (kind.first != ListOperand::none) {
            out << " 0x" << hex(*first, 1);
        }
        if (kind.second != ListOperand::none) {
            out << ", 0x" << hex(*second, 1);
        }
        // The addresses the entry gives, where it does not name them by
        // their index in .debug_addr (which leaves the base unknown).
        if (kind.name.ends_with("_offset_pair")) {
            writeAddresses(out, known, base, *first, *second, digits);
        } else if (kind.name.ends_with("_start_end")) {
            writeAddresses(out, true, 0, *first, *second, digits);
        } else if (kind.name.ends_with("_start_length")) {
            writeAddresses(out, true, 0, *first, *first + *second, digits);
        } else if (kind.name.ends_with("_base_address")) {
            known = true;
            base = *first;
        } else if (kind.name.ends_with("_base_addressx")) {
            known = false;
        }
        if (kind.located) {
            if (!writeLocation(out, c, *length, end, shape, ": ")) {
                return false;
            }
        }
        out << '\n';
        if (*code == 0) {
            return true;
        }
    }
    report(out, "the last list runs to the end of the table without an end-of-list entry",
           c.view().base() + end);
    return false;
}

// One list of .debug_loc or .debug_ranges at the cursor, up to its pair of
// zeros; false when the listing stops.
bool listPairList(Output& out, Cursor& c, bool located, const ExpressionShape& shape,
                  std::optional<std::uint64_t> unitBase)
{
    bool known = unitBase.has_value();
    std::uint64_t base = unitBase.value_or(0);
    const unsigned size = shape.addressSize;
    const std::uint64_t baseSelection = size == 8 ? ~std::uint64_t{0} : 0xFFFFFFFFu;
    const int digits = static_cast<int>(size * 2);
    while (!c.atEnd()) {
        if (!beginEntry(out)) {
            return false;
        }
        const std::uint64_t at = c.fileOffset();
        const auto begin = c.fixed(size);
        const auto end = begin ? c.fixed(size) : std::nullopt;
        if (!end) {
            reportRead(out, c, "an entry", at);
            return false;
        }
        if (*begin == 0 && *end == 0) {
            out << "    end\n";
            return true;
        }
        if (*begin == baseSelection) {
            out << "    base address      " << hex(*end, digits) << '\n';
            known = true;
            base = *end;
            continue;
        }
        out << "    " << hex(*begin, digits) << "  " << hex(*end, digits);
        writeAddresses(out, known, base, *begin, *end, digits);
        if (located) {
            const auto length = c.u16();
            if (!length) {
                out << '\n';
                reportRead(out, c, "an expression's length", c.fileOffset());
                return false;
            }
            if (!writeLocation(out, c, *length, c.view().size(), shape, "  ")) {
                return false;
            }
        }
        out << '\n';
    }
    report(out, "the last list runs to the end of the section without an end-of-list entry",
           c.fileOffset());
    return false;
}

// The view numbers GCC writes before a location list: pairs of ULEB128s,
// up to next (the next list anything references).
void listViews(Output& out, Cursor& c, std::uint64_t next)
{
    while (c.offset() < next && beginEntry(out)) {
        const std::uint64_t at = c.fileOffset();
        const auto begin = c.uleb();
        const auto end = begin ? c.uleb() : std::nullopt;
        if (!end) {
            reportRead(out, c, "a view pair", at);
            return;
        }
        if (c.offset() > next) {
            report(out, "a view pair that runs into the next list", at);
            return;
        }
        out << "    view " << dec(*begin) << ", " << dec(*end) << '\n';
    }
}

// Names bytes [from, to) that no list .debug_info points at covers; they
// are not decoded.
void writeUnreferenced(Output& out, std::uint64_t from, std::uint64_t to)
{
    out << "  0x" << hex(from, 1) << " to 0x" << hex(to, 1) << ": not referenced by .debug_info\n";
}

// The lists of [from, to) of section: at the offsets the references give
// when there are any (bytes between that none references named, not
// decoded), else one after the other. listOne(cursor, reference or null)
// lists one list.
template <class ListOne>
void listLists(Output& out, Cursor& c, std::uint64_t from, std::uint64_t to,
               std::span<const ListReference> references, ListOne listOne)
{
    if (references.empty()) {
        c.seek(from);
        while (c.offset() < to) {
            out << "  List at 0x" << hex(c.offset(), 1) << '\n';
            if (!listOne(c, nullptr)) {
                return;
            }
        }
        return;
    }
    std::uint64_t covered = from;
    for (std::size_t i = 0; i < references.size() && !out.budget().exhausted(); ++i) {
        const ListReference& r = references[i];
        if (r.offset > covered) {
            writeUnreferenced(out, covered, r.offset);
        }
        c.seek(r.offset);
        const std::uint64_t next = i + 1 < references.size()
                                       ? std::min(to, std::max(references[i + 1].offset, r.offset))
                                       : to;
        if (r.kind == ListReference::Kind::views) {
            out << "  Views at 0x" << hex(r.offset, 1);
            if (r.locations) {
                out << " (of the list at 0x" << hex(*r.locations, 1) << ')';
            }
            out << '\n';
            // Views of no pairs start where the list after them does.
            const bool empty = i > 0 && references[i - 1].offset == r.offset;
            listViews(out, c, empty ? r.offset : next);
        } else {
            out << "  List at 0x" << hex(r.offset, 1) << '\n';
            listOne(c, &r);
        }
        covered = std::max(covered, std::min(c.offset(), to));
    }
    if (covered < to && !out.budget().exhausted()) {
        writeUnreferenced(out, covered, to);
    }
}

std::optional<std::uint64_t> baseOf(const ListReference* r)
{
    return r != nullptr ? std::optional<std::uint64_t>(r->base) : std::nullopt;
}

// The references into [from, to).
std::span<const ListReference> within(std::span<const ListReference> references, std::uint64_t from,
                                      std::uint64_t to)
{
    const auto below = [](const ListReference& r, std::uint64_t offset) {
        return r.offset < offset;
    };
    const auto first = std::lower_bound(references.begin(), references.end(), from, below);
    const auto last = std::lower_bound(first, references.end(), to, below);
    return {first, last};
}

// References past the end of the section, which no table holds.
void reportPastEnd(Output& out, const Section& section, std::span<const ListReference> references)
{
    for (const ListReference& r : within(references, section.view.size(), ~std::uint64_t{0})) {
        report(out, "a list at 0x" + toHex(r.offset) + ", past the end of the section",
               section.view.base() + section.view.size());
    }
}

} // namespace

std::uint64_t tableEnd(Output& out, const View& section, std::uint64_t afterLength,
                       const InitialLength& length, std::uint64_t lengthAt)
{
    if (length.length > section.size() - std::min(section.size(), afterLength)) {
        report(out, "the length 0x" + toHex(length.length) + " runs past the end of the section",
               lengthAt);
        return section.size();
    }
    return afterLength + length.length;
}

void writeTableStart(Output& out, std::string_view what, std::uint64_t offset,
                     const InitialLength& length, unsigned version)
{
    out << "  " << what << " at 0x" << hex(offset, 1) << ": length 0x" << hex(length.length, 1)
        << ", " << dec(std::uint64_t{length.offsetSize} * 8) << "-bit DWARF, version "
        << dec(version);
}

void listListTables(const Section& section, Output& out, std::span<const ListEntryKind> kinds,
                    std::uint16_t machine, std::span<const ListReference> references)
{
    Cursor c(section.view);
    while (!c.atEnd() && !out.budget().exhausted()) {
        const std::uint64_t tableOffset = c.offset();
        const std::uint64_t at = c.fileOffset();
        const auto length = c.initialLength();
        if (!length) {
            reportRead(out, c, "a table's length", at);
            return;
        }
        const std::uint64_t afterLength = c.offset();
        const auto version = c.u16();
        const auto addressSize = version ? c.u8() : std::nullopt;
        const auto segmentSize = addressSize ? c.u8() : std::nullopt;
        const auto count = segmentSize ? c.u32() : std::nullopt;
        if (!count) {
            reportRead(out, c, "a table's header", at);
            return;
        }
        writeTableStart(out, "Table", tableOffset, *length, *version);
        out << "\n    address size " << dec(*addressSize) << ", segment selector size "
            << dec(*segmentSize) << ", " << dec(*count) << " offsets\n";
        const std::uint64_t end = tableEnd(out, c.view(), afterLength, *length, at);
        if (c.offset() > end) {
            report(out, "the table's header runs past its end", at);
            return;
        }
        if (*version != 5 || *addressSize == 0 || *addressSize > 8) {
            report(out, "a table of version 5 with addresses of 1 to 8 bytes expected", at);
            c.seek(end);
            continue;
        }
        // The offsets are from the end of the header, where the first one is.
        const std::uint64_t base = c.offset();
        std::uint64_t shown = *count;
        if (shown > (end - base) / length->offsetSize) {
            report(out, "the offsets run past the end of the table", c.fileOffset());
            shown = (end - base) / length->offsetSize;
        }
        for (std::uint64_t i = 0; i < shown && !out.budget().exhausted(); ++i) {
            out.budget().charge(entryCost);
            const std::uint64_t offset = c.offsetField(length->offsetSize).value_or(0);
            out << "    offsets[" << dec(i) << "]  0x" << hex(offset, 1) << " (list at 0x"
                << hex(base + offset, 1) << ")\n";
        }
        const std::uint64_t lists = base + shown * length->offsetSize;
        const ExpressionShape shape{*addressSize, length->offsetSize, *version, machine};
        listLists(out, c, lists, end, within(references, lists, end),
                  [&](Cursor& list, const ListReference* r) {
                      return listTableList(out, list, end, kinds, shape, baseOf(r));
                  });
        c.seek(end);
    }
    reportPastEnd(out, section, references);
}

std::vector<ListReference> referencesInto(std::span<const ListReference> references, bool ranges,
                                          bool version5)
{
    std::vector<ListReference> chosen;
    for (const ListReference& r : references) {
        if ((r.kind == ListReference::Kind::ranges) == ranges && (r.version == 5) == version5) {
            chosen.push_back(r);
        }
    }
    return chosen;
}

void listAddressPairLists(const Section& section, Output& out, const Sections& sections,
                          bool located, std::span<const ListReference> references)
{
    // The lists do not say which version wrote them; 4 reads them all.
    const ExpressionShape shape{sections.addressSize(), 4, 4, sections.machine()};
    Cursor c(section.view);
    listLists(out, c, 0, section.view.size(), within(references, 0, section.view.size()),
              [&](Cursor& list, const ListReference* r) {
                  if (r == nullptr) {
                      return listPairList(out, list, located, shape, std::nullopt);
                  }
                  const ExpressionShape unitShape{r->addressSize, r->offsetSize, r->version,
                                                  sections.machine()};
                  return listPairList(out, list, located, unitShape, r->base);
              });
    reportPastEnd(out, section, references);
}

} // namespace tdump::dwarf
