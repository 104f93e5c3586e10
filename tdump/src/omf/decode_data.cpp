// The records that fill segments and patch them: enumerated and iterated
// data, fixups and their threads, back patches, COMDATs, and the line
// numbers of the code.

#include <algorithm>
#include <utility>

#include "omf/fields.h"
#include "omf/module_reader.h"

namespace tdump::omf {
namespace {

namespace type = recordType;

// How deep iterated data may nest, and how much it may expand to: no
// segment holds more than 4 GiB.
constexpr unsigned maxIteratedDepth = 16;
constexpr std::uint64_t maxExpandedSize = std::uint64_t{1} << 32;

// FIXUPP: the first byte of a subrecord tells threads from fixups.
constexpr std::uint8_t subrecordFixup = 0x80;
constexpr std::uint8_t threadIsFrame = 0x40;
constexpr unsigned threadMethodShift = 2;
constexpr std::uint8_t threadMethodMask = 7;
constexpr std::uint8_t threadNumberMask = 3;
constexpr std::uint8_t fixupSegmentRelative = 0x40;
constexpr unsigned fixupLocationShift = 2;
constexpr std::uint8_t fixupLocationMask = 0x0F;
constexpr std::uint16_t fixupOffsetMask = 0x3FF;
// The fix data byte: frame by thread, frame method, target by thread,
// no displacement, target method.
constexpr std::uint8_t fixFrameThread = 0x80;
constexpr unsigned fixFrameShift = 4;
constexpr std::uint8_t fixFrameMask = 7;
constexpr std::uint8_t fixTargetThread = 0x08;
constexpr std::uint8_t fixNoDisplacement = 0x04;
constexpr std::uint8_t fixTargetMask = 3;
// Frame methods F0-F2 and target methods T0-T2 name something by index;
// F3 and T3 give a frame number.
constexpr std::uint8_t methodsWithIndex = 3;
constexpr std::uint8_t methodFrameNumber = 3;

// COMDAT's flag and attribute bytes.
constexpr std::uint8_t comdatContinuation = 0x01;
constexpr std::uint8_t comdatIterated = 0x02;
constexpr std::uint8_t comdatLocal = 0x04;
constexpr std::uint8_t comdatCodeSegment = 0x08;
constexpr unsigned comdatSelectionShift = 4;
constexpr std::uint8_t comdatAllocationMask = 0x0F;
constexpr std::uint8_t allocationExplicit = 0;

std::string locationName(unsigned location)
{
    switch (location) {
    case 0:
        return "low byte";
    case 1:
        return "offset16";
    case 2:
        return "base16";
    case 3:
        return "pointer16:16";
    case 4:
        return "high byte";
    case 5:
        return "offset16 (loader)";
    case 9:
        return "offset32";
    case 11:
        return "pointer16:32";
    case 13:
        return "offset32 (loader)";
    default:
        break;
    }
    return "location " + std::to_string(location) + " (reserved)";
}

std::string_view backpatchLocationName(std::uint8_t location)
{
    static constexpr std::string_view names[] = {"byte", "word", "dword"};
    return location < std::size(names) ? names[location] : "unknown";
}

std::string selectionName(unsigned selection)
{
    static constexpr std::string_view names[] = {"no match", "pick any", "same size",
                                                 "exact match"};
    return selection < std::size(names) ? std::string(names[selection])
                                        : "reserved " + std::to_string(selection);
}

std::string allocationName(unsigned allocation)
{
    static constexpr std::string_view names[] = {"explicit", "far code", "far data", "code32",
                                                 "data32"};
    return allocation < std::size(names) ? std::string(names[allocation])
                                         : "reserved " + std::to_string(allocation);
}

std::string comdatAlignName(std::uint8_t align)
{
    return align == 0  ? "from the segment"
           : align < 8 ? std::string(alignmentName(align))
                       : std::to_string(align);
}

// Sizes of iterated data add up and multiply without wrapping: past 4 GiB
// they stay at one byte more, too large for any segment.
std::uint64_t addSaturating(std::uint64_t a, std::uint64_t b)
{
    return std::min(a + b, maxExpandedSize + 1);
}

std::uint64_t multiplySaturating(std::uint64_t a, std::uint64_t b)
{
    if (a == 0 || b == 0) {
        return 0;
    }
    return a > maxExpandedSize / b ? maxExpandedSize + 1 : a * b;
}

} // namespace

void ModuleReader::enumeratedData(Fields& f)
{
    const auto segmentIndex = f.index();
    const auto offset = segmentIndex ? f.word() : std::nullopt;
    if (!offset) {
        cut(f, "the segment and offset");
        return;
    }
    const auto data = f.rest();
    line("segment " + segmentRef(*segmentIndex) + "  offset " + toHex(*offset, 8) + "  length " +
         std::to_string(data.size()));
    lastData_ = {true, true, *segmentIndex, *offset};
    if (options_.verbose()) {
        hexLines(data, *offset);
    }
}

// One block of iterated data: its repeat count and block count, then its
// nested blocks or its bytes. Returns the size it expands to (at most just
// past 4 GiB), or nullopt when it is cut short or nests too deep.
std::optional<std::uint64_t> ModuleReader::iteratedBlock(Fields& f, unsigned depth)
{
    if (depth == maxIteratedDepth) {
        damage("iterated data nested deeper than " + std::to_string(maxIteratedDepth) +
                   " levels: the rest of the record is not read",
               f.offset());
        return std::nullopt;
    }
    out_.budget().charge(entryCost);
    const auto repeat = f.word();
    const auto count = repeat ? f.u16() : std::nullopt;
    if (!count) {
        cut(f, "an iterated data block");
        return std::nullopt;
    }
    const std::string indent(std::size_t{2} * depth, ' ');
    if (*count == 0) {
        const auto length = f.u8();
        const auto content = length ? f.take(*length) : std::nullopt;
        if (!content) {
            cut(f, "an iterated data block's contents");
            return std::nullopt;
        }
        line(indent + "repeat " + std::to_string(*repeat) + ": " + std::to_string(*length) +
             " bytes " + hexText(*content));
        return multiplySaturating(*repeat, *length);
    }
    line(indent + "repeat " + std::to_string(*repeat) + ", " + std::to_string(*count) + " blocks:");
    std::uint64_t size = 0;
    for (unsigned i = 0; i < *count; ++i) {
        const auto block = iteratedBlock(f, depth + 1);
        if (!block) {
            return std::nullopt;
        }
        size = addSaturating(size, *block);
    }
    return multiplySaturating(*repeat, size);
}

void ModuleReader::iteratedData(Fields& f)
{
    const auto segmentIndex = f.index();
    const auto offset = segmentIndex ? f.word() : std::nullopt;
    if (!offset) {
        cut(f, "the segment and offset");
        return;
    }
    line("segment " + segmentRef(*segmentIndex) + "  offset " + toHex(*offset, 8));
    lastData_ = {true, false, *segmentIndex, *offset};
    iteratedBlocks(f, "the iterated data expands to more than 4 GiB, more than a segment holds");
}

// The blocks of iterated data to the end of the record, and the size they
// expand to; tooLarge reports a size past 4 GiB.
void ModuleReader::iteratedBlocks(Fields& f, const std::string& tooLarge)
{
    std::uint64_t size = 0;
    while (!f.done()) {
        const auto block = iteratedBlock(f, 0);
        if (!block) {
            return;
        }
        size = addSaturating(size, *block);
    }
    if (size > maxExpandedSize) {
        damage(tooLarge, f.offset());
        return;
    }
    line("expands to " + std::to_string(size) + " bytes");
}

void ModuleReader::comdat(Fields& f)
{
    const auto flags = f.u8();
    const auto attributes = flags ? f.u8() : std::nullopt;
    const auto align = attributes ? f.u8() : std::nullopt;
    const auto offset = align ? f.word() : std::nullopt;
    const auto typeIndex = offset ? f.index() : std::nullopt;
    if (!typeIndex) {
        cut(f, "the COMDAT's flags, attributes, alignment, offset and type");
        return;
    }
    const unsigned allocation = *attributes & comdatAllocationMask;
    std::string base;
    if (allocation == allocationExplicit) {
        const auto groupIndex = f.index();
        const auto segmentIndex = groupIndex ? f.index() : std::nullopt;
        if (!segmentIndex) {
            cut(f, "the public base");
            return;
        }
        base = "  base group " + groupRef(*groupIndex);
        if (*segmentIndex == 0) {
            const auto frame = f.u16();
            if (!frame) {
                cut(f, "the base frame");
                return;
            }
            base += "  frame " + toHex(*frame, 4);
        } else {
            base += "  segment " + segmentRef(*segmentIndex);
        }
    }
    const auto nameIndex = f.index();
    if (!nameIndex) {
        cut(f, "the public name index");
        return;
    }
    const bool known = *nameIndex >= 1 && *nameIndex <= names_.size();
    std::string text = "name " + symbolNamedBy(*nameIndex);
    for (const auto& [bit, name] :
         {std::pair<std::uint8_t, std::string_view>{comdatContinuation, "continuation"},
          {comdatIterated, "iterated"},
          {comdatLocal, "local"},
          {comdatCodeSegment, "data in code segment"}}) {
        if ((*flags & bit) != 0) {
            text += "  ";
            text += name;
        }
    }
    line(text);
    line("selection " + selectionName(*attributes >> comdatSelectionShift) + "  allocation " +
         allocationName(allocation) + "  align " + comdatAlignName(*align));
    line("offset " + toHex(*offset, 8) +
         (options_.verbose() ? "  type " + std::to_string(*typeIndex) : std::string()) + base);
    if (known && (*flags & (comdatLocal | comdatContinuation)) == 0) {
        summary_.otherNames.push_back(names_[*nameIndex - 1u]);
    }
    // Fixups that follow apply to its data, which has no place in a segment yet.
    lastData_ = {true, false, 0, 0};
    if ((*flags & comdatIterated) != 0) {
        iteratedBlocks(f, "the iterated data expands to more than 4 GiB");
        return;
    }
    const auto data = f.rest();
    line("data length " + std::to_string(data.size()));
    if (options_.verbose()) {
        hexLines(data, *offset);
    }
}

void ModuleReader::fixups(Fields& f)
{
    while (!f.done()) {
        out_.budget().charge(entryCost);
        const std::uint8_t first = f.u8().value_or(0);
        if ((first & subrecordFixup) == 0) {
            const bool frame = (first & threadIsFrame) != 0;
            auto method =
                static_cast<std::uint8_t>((first >> threadMethodShift) & threadMethodMask);
            const unsigned number = first & threadNumberMask;
            // A target thread keeps two bits of its method: the fixup that
            // uses it gives the third.
            if (!frame) {
                method &= 3u;
            }
            std::optional<std::uint16_t> datum = 0;
            if (method < methodsWithIndex) {
                datum = f.index();
            } else if (!frame) {
                datum = f.u16();
            }
            if (!datum) {
                cut(f, "a thread's datum");
                return;
            }
            (frame ? frameThreads_ : targetThreads_)[number] = {true, method, *datum};
            line("thread " + std::string(frame ? "frame " : "target ") + std::to_string(number) +
                 " = " + (frame ? frameText(method, *datum) : targetText(method, *datum)));
            continue;
        }
        const auto second = f.u8();
        const auto fixData = second ? f.u8() : std::nullopt;
        if (!fixData) {
            cut(f, "a fixup's location and fix data");
            return;
        }
        const auto locat = static_cast<std::uint16_t>((first << 8) | *second);
        const std::uint16_t dataOffset = locat & fixupOffsetMask;
        const auto reference = fixupReference(f, *fixData);
        if (!reference) {
            return;
        }
        std::string text =
            "fixup " + toHex(dataOffset, 3) + "  " +
            locationName((first >> fixupLocationShift) & fixupLocationMask) + "  " +
            ((first & fixupSegmentRelative) != 0 ? "segment-relative" : "self-relative") + "  " +
            *reference;
        if (lastData_.set && lastData_.enumerated) {
            text += "  at " + segmentRef(lastData_.segment) + ":" +
                    toHex(std::uint64_t{lastData_.offset} + dataOffset, 8);
        }
        line(text);
        if (!lastData_.set) {
            damage("a fixup with no data record before it", f.offset());
        }
    }
}

// The frame and target of a fixup, or of the start address, from the fix
// data byte on: by thread or explicit, and the displacement.
std::optional<std::string> ModuleReader::fixupReference(Fields& f, std::uint8_t fixData)
{
    std::string text = "frame ";
    if ((fixData & fixFrameThread) != 0) {
        const unsigned number = (fixData >> fixFrameShift) & threadNumberMask;
        const Thread& thread = frameThreads_[number];
        text += "thread " + std::to_string(number) + " ";
        text += thread.set ? frameText(thread.method, thread.datum)
                           : std::string("** not defined by a THREAD subrecord");
    } else {
        const auto method = static_cast<std::uint8_t>((fixData >> fixFrameShift) & fixFrameMask);
        std::optional<std::uint16_t> datum = 0;
        if (method < methodsWithIndex) {
            datum = f.index();
        }
        if (!datum) {
            cut(f, "the frame datum");
            return std::nullopt;
        }
        text += frameText(method, *datum);
    }
    text += "  target ";
    const bool noDisplacement = (fixData & fixNoDisplacement) != 0;
    const auto high = static_cast<std::uint8_t>(noDisplacement ? 4 : 0);
    if ((fixData & fixTargetThread) != 0) {
        const unsigned number = fixData & threadNumberMask;
        const Thread& thread = targetThreads_[number];
        text += "thread " + std::to_string(number) + " ";
        text += thread.set ? targetText(static_cast<std::uint8_t>((thread.method & 3u) | high),
                                        thread.datum)
                           : std::string("** not defined by a THREAD subrecord");
    } else {
        const auto method = static_cast<std::uint8_t>((fixData & fixTargetMask) | high);
        const auto datum = (method & 3u) == methodFrameNumber ? f.u16() : f.index();
        if (!datum) {
            cut(f, "the target datum");
            return std::nullopt;
        }
        text += targetText(method, *datum);
    }
    if (!noDisplacement) {
        const auto displacement = f.word();
        if (!displacement) {
            cut(f, "the target displacement");
            return std::nullopt;
        }
        text += " + 0x" + toHex(*displacement);
    }
    return text;
}

std::string ModuleReader::frameText(std::uint8_t method, std::uint16_t datum) const
{
    // Built a piece at a time: "F" + std::to_string(...) trips a false
    // -Wrestrict in MinGW-w64 g++ 12 at -O3.
    std::string text(1, 'F');
    text += std::to_string(method);
    text += ' ';
    switch (method) {
    case 0:
        return text + "segment " + segmentRef(datum);
    case 1:
        return text + "group " + groupRef(datum);
    case 2:
        return text + "external " + externalRef(datum);
    case methodFrameNumber:
        return text + "frame number";
    case 4:
        return text + "location";
    case 5:
        return text + "target";
    case 6:
        return text + "none";
    default:
        break;
    }
    return text + "(invalid)";
}

std::string ModuleReader::targetText(std::uint8_t method, std::uint16_t datum) const
{
    std::string text(1, 'T');
    text += std::to_string(method);
    text += ' ';
    switch (method & 3u) {
    case 0:
        return text + "segment " + segmentRef(datum);
    case 1:
        return text + "group " + groupRef(datum);
    case 2:
        return text + "external " + externalRef(datum);
    default:
        break;
    }
    return text + "frame " + toHex(datum, 4);
}

void ModuleReader::backpatches(Fields& f)
{
    // NBKPAT names a COMDAT; BAKPAT, a segment.
    const bool named = f.type() == type::nbkpat || f.type() == type::nbkpat32;
    std::optional<std::uint16_t> target;
    std::optional<std::uint8_t> location;
    if (named) {
        location = f.u8();
        target = location ? f.index() : std::nullopt;
    } else {
        target = f.index();
        location = target ? f.u8() : std::nullopt;
    }
    if (!location || !target) {
        cut(f, "the back patch target and location type");
        return;
    }
    line((named ? "COMDAT " + nameRef(*target) : "segment " + segmentRef(*target)) + "  location " +
         std::string(backpatchLocationName(*location)));
    while (!f.done()) {
        const auto offset = f.word();
        const auto value = offset ? f.word() : std::nullopt;
        if (!value) {
            cut(f, "an offset and value");
            return;
        }
        line("offset " + toHex(*offset, 8) + "  value " + toHex(*value, 8));
    }
}

void ModuleReader::lineNumbers(Fields& f)
{
    const auto groupIndex = f.index();
    const auto segmentIndex = groupIndex ? f.index() : std::nullopt;
    if (!segmentIndex) {
        cut(f, "the base group and segment");
        return;
    }
    line("base group " + groupRef(*groupIndex) + "  segment " + segmentRef(*segmentIndex));
    lineEntries(f);
}

void ModuleReader::lineSymbols(Fields& f)
{
    const auto flags = f.u8();
    const auto name = flags ? f.index() : std::nullopt;
    if (!name) {
        cut(f, "the flags and the COMDAT name");
        return;
    }
    line("COMDAT " + nameRef(*name) + ((*flags & comdatContinuation) != 0 ? "  continuation" : ""));
    lineEntries(f);
}

// The line numbers of LINNUM and LINSYM to the end of the record, each with
// the offset of its code.
void ModuleReader::lineEntries(Fields& f)
{
    while (!f.done()) {
        const auto number = f.u16();
        const auto offset = number ? f.word() : std::nullopt;
        if (!offset) {
            cut(f, "a line number and offset");
            return;
        }
        line("line " + std::to_string(*number) + "  offset " + toHex(*offset, 8));
    }
}

} // namespace tdump::omf
