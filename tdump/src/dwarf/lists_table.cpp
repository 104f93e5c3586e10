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

// Charges the entry at the cursor to the budget, and heads a new list when
// one starts there; false when the budget is spent.
bool beginEntry(Output& out, const Cursor& c, bool& listStart)
{
    if (out.budget().exhausted()) {
        return false;
    }
    out.budget().charge(entryCost);
    if (listStart) {
        out << "  List at 0x" << hex(c.offset(), 1) << '\n';
        listStart = false;
    }
    return true;
}

// The lists of a DWARF 5 table from the cursor to end.
void listEntries(Output& out, Cursor& c, std::uint64_t end, std::span<const ListEntryKind> kinds,
                 const ExpressionShape& shape)
{
    bool listStart = true;
    while (c.offset() < end) {
        if (!beginEntry(out, c, listStart)) {
            return;
        }
        const std::uint64_t at = c.fileOffset();
        const auto code = c.u8();
        if (!code) {
            reportRead(out, c, "an entry", at);
            return;
        }
        if (*code >= kinds.size() || kinds[*code].name.empty()) {
            report(out, "unknown entry kind 0x" + toHex(*code, 2), at);
            return;
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
            return;
        }
        if (kind.first != ListOperand::none) {
            out << " 0x" << hex(*first, 1);
        }
        if (kind.second != ListOperand::none) {
            out << ", 0x" << hex(*second, 1);
        }
        if (kind.located) {
            if (!writeLocation(out, c, *length, end, shape, ": ")) {
                return;
            }
        }
        out << '\n';
        listStart = *code == 0;
    }
    if (!listStart) {
        report(out, "the last list runs to the end of the table without an end-of-list entry",
               c.view().base() + end);
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
                    std::uint16_t machine)
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
        c.seek(base + shown * length->offsetSize);
        listEntries(out, c, end, kinds, {*addressSize, length->offsetSize, *version, machine});
        c.seek(end);
    }
}

void listAddressPairLists(const Section& section, Output& out, const Sections& sections,
                          bool located)
{
    const unsigned size = sections.addressSize();
    const std::uint64_t baseSelection = size == 8 ? ~std::uint64_t{0} : 0xFFFFFFFFu;
    // The lists do not say which version wrote them; 4 reads them all.
    const ExpressionShape shape{size, 4, 4, sections.machine()};
    const int digits = static_cast<int>(size * 2);
    Cursor c(section.view);
    bool listStart = true;
    while (!c.atEnd()) {
        if (!beginEntry(out, c, listStart)) {
            return;
        }
        const std::uint64_t at = c.fileOffset();
        const auto begin = c.fixed(size);
        const auto end = begin ? c.fixed(size) : std::nullopt;
        if (!end) {
            reportRead(out, c, "an entry", at);
            return;
        }
        if (*begin == 0 && *end == 0) {
            out << "    end\n";
            listStart = true;
            continue;
        }
        if (*begin == baseSelection) {
            out << "    base address      " << hex(*end, digits) << '\n';
            continue;
        }
        out << "    " << hex(*begin, digits) << "  " << hex(*end, digits);
        if (located) {
            const auto length = c.u16();
            if (!length) {
                out << '\n';
                reportRead(out, c, "an expression's length", c.fileOffset());
                return;
            }
            if (!writeLocation(out, c, *length, c.view().size(), shape, "  ")) {
                return;
            }
        }
        out << '\n';
    }
    if (!listStart) {
        report(out, "the last list runs to the end of the section without an end-of-list entry",
               c.fileOffset());
    }
}

} // namespace tdump::dwarf
