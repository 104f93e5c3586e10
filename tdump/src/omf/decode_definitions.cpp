// The records that define what later records refer to by index, and what
// other modules link against: names, segments, groups, publics, externals,
// communals and aliases.

#include "omf/fields.h"
#include "omf/module_reader.h"

namespace tdump::omf {
namespace {

namespace type = recordType;

// Definitions past this many can never be referred to: indexes have 15 bits.
constexpr std::size_t maxDefinitions = 0x7FFF;

// SEGDEF's attribute byte: alignment, combination, big, use32.
constexpr unsigned segmentAlignShift = 5;
constexpr unsigned segmentCombineShift = 2;
constexpr std::uint8_t segmentCombineMask = 7;
constexpr std::uint8_t segmentBig = 0x02;
constexpr std::uint8_t segmentUse32 = 0x01;
constexpr std::uint8_t alignAbsolute = 0;

// GRPDEF: the component type of a segment index.
constexpr std::uint8_t groupSegmentComponent = 0xFF;

// COMDEF data types.
constexpr std::uint8_t communalFar = 0x61;
constexpr std::uint8_t communalNear = 0x62;

std::string_view combinationName(unsigned c)
{
    static constexpr std::string_view names[] = {"private",  "reserved 1", "public", "reserved 3",
                                                 "public 4", "stack",      "common", "public 7"};
    return names[c & 7u];
}

} // namespace

void ModuleReader::names(Fields& f)
{
    while (!f.done()) {
        auto name = f.name();
        if (!name) {
            cut(f, "a name");
            return;
        }
        line(indexLabel(names_.size() + 1) + shownName(*name));
        if (names_.size() < maxDefinitions) {
            names_.push_back(std::move(*name));
        }
    }
}

void ModuleReader::segment(Fields& f)
{
    const auto attributes = f.u8();
    if (!attributes) {
        cut(f, "the segment attributes");
        return;
    }
    const unsigned align = *attributes >> segmentAlignShift;
    std::string absolute;
    if (align == alignAbsolute) {
        const auto frame = f.u16();
        const auto offset = frame ? f.u8() : std::nullopt;
        if (!offset) {
            cut(f, "the absolute frame and offset");
            return;
        }
        absolute = "  frame " + toHex(*frame, 4) + " offset " + toHex(*offset, 2);
    }
    const auto length = f.word();
    const auto name = length ? f.index() : std::nullopt;
    const auto className = name ? f.index() : std::nullopt;
    const auto overlay = className ? f.index() : std::nullopt;
    if (!overlay) {
        cut(f, "the segment length and names");
        return;
    }
    if (segments_.size() < maxDefinitions) {
        segments_.push_back({*name});
    }
    std::string text =
        indexLabel(segments_.size()) + nameRef(*name) + "  class " + nameRef(*className);
    const bool overlayNamed =
        *overlay > names_.size() || (*overlay != 0 && !names_[*overlay - 1u].empty());
    if (overlayNamed || options_.verbose()) {
        text += "  overlay " + nameRef(*overlay);
    }
    line(text);
    const bool big = (*attributes & segmentBig) != 0;
    text = "align " + std::string(alignmentName(align)) + "  combine " +
           std::string(combinationName((*attributes >> segmentCombineShift) & segmentCombineMask)) +
           ((*attributes & segmentUse32) != 0 ? "  use32" : "  use16") + "  length ";
    text += big ? (f.wide() ? "4 GiB (big)" : "64 KiB (big)") : "0x" + toHex(*length);
    text += absolute;
    if (options_.verbose()) {
        text += "  attributes " + toHex(*attributes, 2);
    }
    line(text);
    if (big && *length != 0) {
        damage("the big bit says the segment holds " + std::string(f.wide() ? "4 GiB" : "64 KiB") +
                   ", but the length field is 0x" + toHex(*length) + ", not 0",
               f.offset());
    }
    leftOver(f);
}

void ModuleReader::group(Fields& f)
{
    const auto name = f.index();
    if (!name) {
        cut(f, "the group name");
        return;
    }
    if (groups_.size() < maxDefinitions) {
        groups_.push_back(*name);
    }
    std::string text = indexLabel(groups_.size()) + nameRef(*name) + "  segments";
    if (f.done()) {
        text += " (none)";
    }
    while (!f.done()) {
        const std::uint8_t component = f.u8().value_or(0);
        if (component != groupSegmentComponent) {
            line(text);
            damage("the group component type " + toHex(component, 2) +
                       " is not a segment index (FF)",
                   f.offset() - 1);
            return;
        }
        const auto segmentIndex = f.index();
        if (!segmentIndex) {
            line(text);
            cut(f, "a segment index");
            return;
        }
        text += ' ';
        text += segmentRef(*segmentIndex);
    }
    line(text);
}

void ModuleReader::publics(Fields& f)
{
    const bool local = f.type() == type::lpubdef || f.type() == type::lpubdef32;
    const auto groupIndex = f.index();
    const auto segmentIndex = groupIndex ? f.index() : std::nullopt;
    if (!segmentIndex) {
        cut(f, "the base group and segment");
        return;
    }
    std::string base;
    if (*segmentIndex == 0) {
        const auto frame = f.u16();
        if (!frame) {
            cut(f, "the base frame");
            return;
        }
        base = "frame " + toHex(*frame, 4);
    } else {
        base = segmentRef(*segmentIndex);
    }
    line("base group " + groupRef(*groupIndex) +
         (*segmentIndex == 0 ? "  " + base + " (absolute)" : "  segment " + base));
    while (!f.done()) {
        const auto name = f.name();
        const auto offset = name ? f.word() : std::nullopt;
        const auto typeIndex = offset ? f.index() : std::nullopt;
        if (!typeIndex) {
            cut(f, "a public name, offset and type");
            return;
        }
        std::string text = toHex(*offset, 8) + "  " + symbol(*name);
        if (options_.verbose()) {
            text += "  type " + std::to_string(*typeIndex);
        }
        line(text);
        if (!local) {
            summary_.publics.push_back({*name, base + ":" + toHex(*offset, 8)});
        }
    }
}

void ModuleReader::externals(Fields& f)
{
    while (!f.done()) {
        auto name = f.name();
        const auto typeIndex = name ? f.index() : std::nullopt;
        if (!typeIndex) {
            cut(f, "an external name and type");
            return;
        }
        std::string text = indexLabel(externals_.size() + 1) + symbol(*name);
        if (options_.verbose()) {
            text += "  type " + std::to_string(*typeIndex);
        }
        line(text);
        if (externals_.size() < maxDefinitions) {
            externals_.push_back(std::move(*name));
        }
    }
}

void ModuleReader::communals(Fields& f)
{
    const bool local = f.type() == type::lcomdef;
    while (!f.done()) {
        auto name = f.name();
        const auto typeIndex = name ? f.index() : std::nullopt;
        const auto dataType = typeIndex ? f.u8() : std::nullopt;
        if (!dataType) {
            cut(f, "a communal name, type and data type");
            return;
        }
        std::optional<std::uint8_t> badPrefix;
        std::string size;
        if (*dataType == communalFar) {
            const auto elements = f.communalNumber(badPrefix);
            const auto elementSize = elements ? f.communalNumber(badPrefix) : std::nullopt;
            if (elementSize) {
                size = "far " + std::to_string(*elements) + " x " + std::to_string(*elementSize) +
                       " bytes";
            }
        } else if (*dataType == communalNear) {
            const auto length = f.communalNumber(badPrefix);
            if (length) {
                size = "near " + std::to_string(*length) + " bytes";
            }
        } else {
            damage("the communal data type " + toHex(*dataType, 2) +
                       " is neither near (62) nor far (61)",
                   f.offset() - 1);
            return;
        }
        if (badPrefix) {
            damage("a communal length starts with " + toHex(*badPrefix, 2) +
                       ", which announces no length (81, 84 or 88 do)",
                   f.offset() - 1);
            return;
        }
        if (size.empty()) {
            cut(f, "a communal length");
            return;
        }
        std::string text = indexLabel(externals_.size() + 1) + symbol(*name) + "  " + size;
        if (options_.verbose()) {
            text += "  type " + std::to_string(*typeIndex);
        }
        line(text);
        if (!local) {
            summary_.otherNames.push_back(*name);
        }
        if (externals_.size() < maxDefinitions) {
            externals_.push_back(std::move(*name));
        }
    }
}

void ModuleReader::communalExternals(Fields& f)
{
    while (!f.done()) {
        const auto name = f.index();
        const auto typeIndex = name ? f.index() : std::nullopt;
        if (!typeIndex) {
            cut(f, "a name index and type");
            return;
        }
        const bool known = *name >= 1 && *name <= names_.size();
        std::string text = indexLabel(externals_.size() + 1) + symbolNamedBy(*name);
        if (options_.verbose()) {
            text += "  type " + std::to_string(*typeIndex);
        }
        line(text);
        if (externals_.size() < maxDefinitions) {
            externals_.push_back(known ? names_[*name - 1u] : std::string());
        }
    }
}

void ModuleReader::aliases(Fields& f)
{
    while (!f.done()) {
        const auto alias = f.name();
        const auto substitute = alias ? f.name() : std::nullopt;
        if (!substitute) {
            cut(f, "an alias and its substitute");
            return;
        }
        line("alias " + symbol(*alias) + " -> " + symbol(*substitute));
        summary_.otherNames.push_back(*alias);
    }
}

} // namespace tdump::omf
