#include "dwarf/dwarf.h"

#include <string>

#include "dwarf/cursor.h"
#include "dwarf/lists_table.h"

namespace tdump::dwarf {

void listAddressRanges(const Sections& sections, Output& out, const Options&)
{
    const Section* section = sections.find(".debug_aranges");
    if (section == nullptr) {
        return;
    }
    heading(out, ".debug_aranges");
    Cursor c(section->view);
    while (!c.atEnd() && !out.budget().exhausted()) {
        const std::uint64_t setOffset = c.offset();
        const std::uint64_t at = c.fileOffset();
        const auto length = c.initialLength();
        if (!length) {
            report(out, "a set's length: " + std::string(c.failure()), at);
            return;
        }
        const std::uint64_t afterLength = c.offset();
        const auto version = c.u16();
        const auto unit = version ? c.offsetField(length->offsetSize) : std::nullopt;
        const auto addressSize = unit ? c.u8() : std::nullopt;
        const auto segmentSize = addressSize ? c.u8() : std::nullopt;
        if (!segmentSize) {
            report(out, "a set's header: " + std::string(c.failure()), at);
            return;
        }
        writeTableStart(out, "Set", setOffset, *length, *version);
        out << ", unit at 0x" << hex(*unit, 1) << '\n'
            << "    address size " << dec(*addressSize) << ", segment selector size "
            << dec(*segmentSize) << '\n';
        const std::uint64_t end = tableEnd(out, c.view(), afterLength, *length, at);
        if (c.offset() > end) {
            report(out, "the set's header runs past its end", at);
            return;
        }
        if (*addressSize == 0 || *addressSize > 8 || *segmentSize > 8) {
            report(out, "addresses and segment selectors of 1 to 8 bytes expected", at);
            c.seek(end);
            continue;
        }
        // The tuples start at a multiple of their own size from the set's
        // start: the header is padded up to it.
        const unsigned tupleSize = 2u * *addressSize + *segmentSize;
        const std::uint64_t headerSize = c.offset() - setOffset;
        c.seek(setOffset + (headerSize + tupleSize - 1) / tupleSize * tupleSize);
        const int digits = *addressSize * 2;
        bool ended = false;
        while (!ended && c.remaining() >= tupleSize && c.offset() + tupleSize <= end) {
            if (out.budget().exhausted()) {
                return;
            }
            out.budget().charge(entryCost);
            const std::uint64_t segment = *segmentSize == 0 ? 0 : c.fixed(*segmentSize).value_or(0);
            const std::uint64_t address = c.fixed(*addressSize).value_or(0);
            const std::uint64_t size = c.fixed(*addressSize).value_or(0);
            ended = segment == 0 && address == 0 && size == 0;
            out << "    ";
            if (ended) {
                out << "end\n";
                continue;
            }
            if (*segmentSize != 0) {
                out << "segment 0x" << hex(segment, 1) << "  ";
            }
            out << hex(address, digits) << "  length " << hex(size, digits) << '\n';
        }
        if (!ended) {
            report(out, "the set ends without its terminating tuple", c.view().base() + end);
        }
        c.seek(end);
    }
}

} // namespace tdump::dwarf
