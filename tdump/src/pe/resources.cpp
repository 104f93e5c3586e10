// The resource tree of a PE image (data directory 2), with the version
// information and the manifest decoded.

#include <algorithm>
#include <array>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "display/file_display.h"
#include "names.h"
#include "pe/pe.h"

namespace tdump {
namespace {

// IMAGE_RESOURCE_DIRECTORY: characteristics, time stamp, version, then the
// counts of named and of ID entries, which follow it 8 bytes each.
constexpr std::uint32_t directoryHeaderSize = 16;
constexpr std::uint32_t timeStampOffset = 4;
constexpr std::uint32_t namedCountOffset = 12;
constexpr std::uint32_t idCountOffset = 14;
constexpr std::uint32_t entrySize = 8;
constexpr std::uint64_t entryNameField = 0;
constexpr std::uint64_t entryTargetField = 4;
// IMAGE_RESOURCE_DATA_ENTRY: data RVA, size, code page, reserved.
constexpr std::uint32_t dataEntrySize = 16;
// In an entry, the high bit marks a string name and a subdirectory.
constexpr std::uint32_t highBit = 0x80000000u;
// Types, names, languages: the loader never looks deeper.
constexpr int resourceLevels = 3;
constexpr std::uint32_t maxResourceEntries = 1u << 16;
// Decoded resources are read whole; bigger ones are only listed.
constexpr std::uint32_t maxVersionInfoSize = 0x10000;
constexpr std::uint32_t maxManifestSize = 1u << 20;
constexpr std::uint32_t maxVersionBlocks = 4096;

constexpr std::uint16_t typeVersion = 16;
constexpr std::uint16_t typeManifest = 24;

// VS_VERSIONINFO and the blocks inside it: length, value length, type, a
// UTF-16 key, the value and the children, each 4-byte aligned.
constexpr std::size_t blockHeaderSize = 6;
constexpr std::size_t blockLengthField = 0;
constexpr std::size_t blockValueLengthField = 2;
constexpr std::size_t blockTypeField = 4;
constexpr std::uint16_t blockTypeText = 1;
// VS_FIXEDFILEINFO
constexpr std::uint32_t fixedInfoSignature = 0xFEEF04BD;
constexpr std::size_t fixedInfoSize = 52;
constexpr std::size_t fileVersionMsOffset = 8;
constexpr std::size_t fileVersionLsOffset = 12;
constexpr std::size_t productVersionMsOffset = 16;
constexpr std::size_t productVersionLsOffset = 20;
constexpr std::size_t fileFlagsMaskOffset = 24;
constexpr std::size_t fileFlagsOffset = 28;
constexpr std::size_t fileOsOffset = 32;
constexpr std::size_t fileTypeOffset = 36;
constexpr std::size_t fileSubtypeOffset = 40;

constexpr std::string_view versionIndent = "        ";

std::uint16_t get16(std::span<const std::uint8_t> data, std::size_t at)
{
    return at + 2 <= data.size() ? le16(&data[at]) : std::uint16_t{0};
}

std::uint32_t get32(std::span<const std::uint8_t> data, std::size_t at)
{
    return at + 4 <= data.size() ? le32(&data[at]) : 0u;
}

void appendUtf8(std::string& text, std::uint32_t code)
{
    const auto byte = [&](std::uint32_t value) { text += static_cast<char>(value); };
    if (code < 0x80) {
        byte(code);
    } else if (code < 0x800) {
        byte(0xC0 | (code >> 6));
        byte(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        byte(0xE0 | (code >> 12));
        byte(0x80 | ((code >> 6) & 0x3F));
        byte(0x80 | (code & 0x3F));
    } else {
        byte(0xF0 | (code >> 18));
        byte(0x80 | ((code >> 12) & 0x3F));
        byte(0x80 | ((code >> 6) & 0x3F));
        byte(0x80 | (code & 0x3F));
    }
}

// UTF-16LE units as UTF-8; a lone surrogate becomes U+FFFD.
std::string utf8FromUtf16(const std::vector<std::uint16_t>& units)
{
    std::string text;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::uint32_t unit = units[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            appendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00u));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            appendUtf8(text, 0xFFFD);
        } else {
            appendUtf8(text, unit);
        }
    }
    return text;
}

// The NUL-terminated UTF-16 text at [at, end) of data; nullopt when no NUL
// comes before end. next is where the text's NUL ends.
std::optional<std::string> utf16Text(std::span<const std::uint8_t> data, std::size_t at,
                                     std::size_t end, std::size_t& next)
{
    std::vector<std::uint16_t> units;
    for (; at + 2 <= end; at += 2) {
        const std::uint16_t unit = get16(data, at);
        if (unit == 0) {
            next = at + 2;
            return utf8FromUtf16(units);
        }
        units.push_back(unit);
    }
    return std::nullopt;
}

constexpr std::size_t align4(std::size_t at)
{
    return (at + 3) & ~std::size_t{3};
}

struct VersionBlock {
    std::size_t end = 0;
    std::uint16_t valueLength = 0;
    std::uint16_t type = 0;
    std::string key; // UTF-8
    std::size_t value = 0;
    std::size_t children = 0;
};

// The block at data[at] inside [at, limit), or a description of what is wrong.
std::optional<VersionBlock> versionBlock(std::span<const std::uint8_t> data, std::size_t at,
                                         std::size_t limit, std::string& why)
{
    if (at + blockHeaderSize > limit) {
        why = "a version block header runs past its parent's end";
        return std::nullopt;
    }
    VersionBlock block;
    const std::size_t length = get16(data, at + blockLengthField);
    if (length < blockHeaderSize || at + length > limit) {
        why = "a version block of length " + std::to_string(length) + " does not fit its parent";
        return std::nullopt;
    }
    block.end = at + length;
    block.valueLength = get16(data, at + blockValueLengthField);
    block.type = get16(data, at + blockTypeField);
    std::size_t afterKey = 0;
    auto key = utf16Text(data, at + blockHeaderSize, block.end, afterKey);
    if (!key) {
        why = "a version block's key is not terminated inside the block";
        return std::nullopt;
    }
    block.key = std::move(*key);
    block.value = std::min(align4(afterKey), block.end);
    // Text values count UTF-16 units, binary ones bytes.
    const std::size_t valueBytes =
        block.type == blockTypeText ? std::size_t{block.valueLength} * 2 : block.valueLength;
    block.children = std::min(align4(block.value + valueBytes), block.end);
    return block;
}

std::string versionText(std::uint32_t high, std::uint32_t low)
{
    return std::to_string(high >> 16) + '.' + std::to_string(high & 0xFFFF) + '.' +
           std::to_string(low >> 16) + '.' + std::to_string(low & 0xFFFF);
}

void listFixedFileInfo(Output& out, std::span<const std::uint8_t> data, const VersionBlock& root,
                       std::uint64_t fileOffset)
{
    const std::size_t at = root.value;
    if (root.valueLength < fixedInfoSize || at + fixedInfoSize > root.end) {
        report(out, "the version information has no fixed file information", fileOffset + at);
        return;
    }
    if (get32(data, at) != fixedInfoSignature) {
        report(out,
               "the fixed file information's signature is 0x" + toHex(get32(data, at), 8) +
                   " instead of 0xFEEF04BD",
               fileOffset + at);
        return;
    }
    out << versionIndent << "File version     "
        << versionText(get32(data, at + fileVersionMsOffset), get32(data, at + fileVersionLsOffset))
        << '\n';
    out << versionIndent << "Product version  "
        << versionText(get32(data, at + productVersionMsOffset),
                       get32(data, at + productVersionLsOffset))
        << '\n';
    out << versionIndent << "File flags       " << hex(get32(data, at + fileFlagsOffset))
        << " (mask " << hex(get32(data, at + fileFlagsMaskOffset)) << ")\n";
    out << versionIndent << "File OS          " << hex(get32(data, at + fileOsOffset)) << '\n';
    out << versionIndent << "File type        " << dec(get32(data, at + fileTypeOffset))
        << ", subtype " << dec(get32(data, at + fileSubtypeOffset)) << '\n';
}

// The children of a block, each handed to visit(block, offset), up to the
// first malformed one (reported).
template <typename Visit>
void forEachChild(Output& out, std::span<const std::uint8_t> data, const VersionBlock& parent,
                  std::uint64_t fileOffset, std::uint32_t& blocks, Visit visit)
{
    for (std::size_t at = parent.children; at < parent.end && !out.budget().exhausted();) {
        out.budget().charge(entryCost);
        if (++blocks > maxVersionBlocks) {
            report(out, "more version blocks than the limit", fileOffset + at);
            return;
        }
        // Zero padding may fill the rest of the parent.
        if (std::all_of(data.begin() + static_cast<std::ptrdiff_t>(at),
                        data.begin() + static_cast<std::ptrdiff_t>(parent.end),
                        [](std::uint8_t b) { return b == 0; })) {
            return;
        }
        std::string why;
        const auto block = versionBlock(data, at, parent.end, why);
        if (!block) {
            report(out, why, fileOffset + at);
            return;
        }
        visit(*block, at);
        at = align4(block->end);
    }
}

void listVersionInfo(Output& out, std::span<const std::uint8_t> data, std::uint64_t fileOffset)
{
    std::string why;
    const auto root = versionBlock(data, 0, data.size(), why);
    if (!root) {
        report(out, "the version information: " + why, fileOffset);
        return;
    }
    if (root->key != "VS_VERSION_INFO") {
        report(out, "the version information's key is \"" + root->key + "\"", fileOffset);
    }
    listFixedFileInfo(out, data, *root, fileOffset);
    std::uint32_t blocks = 0;
    forEachChild(out, data, *root, fileOffset, blocks, [&](const VersionBlock& info, std::size_t) {
        if (info.key == "StringFileInfo") {
            forEachChild(
                out, data, info, fileOffset, blocks, [&](const VersionBlock& table, std::size_t) {
                    out << versionIndent << "StringFileInfo " << printable(table.key) << '\n';
                    forEachChild(out, data, table, fileOffset, blocks,
                                 [&](const VersionBlock& string, std::size_t at) {
                                     std::size_t next = 0;
                                     const auto value =
                                         string.valueLength == 0
                                             ? std::optional<std::string>("")
                                             : utf16Text(data, string.value, string.end, next);
                                     out << versionIndent << "  " << printable(string.key) << " = "
                                         << printable(value.value_or("")) << '\n';
                                     if (!value) {
                                         report(out,
                                                "the value of \"" + string.key +
                                                    "\" is not terminated inside its block",
                                                fileOffset + at);
                                     }
                                 });
                });
        } else if (info.key == "VarFileInfo") {
            forEachChild(
                out, data, info, fileOffset, blocks, [&](const VersionBlock& var, std::size_t) {
                    out << versionIndent << printable(var.key);
                    for (std::size_t at = var.value; at + 4 <= var.children; at += 4) {
                        out << ' ' << hex(get16(data, at), 4) << ' ' << hex(get16(data, at + 2), 4);
                    }
                    out << '\n';
                });
        } else {
            out << versionIndent << "Block \"" << printable(info.key) << "\"\n";
        }
    });
}

// The manifest's lines as they are (UTF-8 or ASCII), CR left out.
void listManifest(Output& out, std::span<const std::uint8_t> data)
{
    std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, byteOrderMark.size()) == byteOrderMark) {
        text.remove_prefix(byteOrderMark.size());
    }
    // Resource compilers may pad the text with NULs.
    while (!text.empty() && text.back() == '\0') {
        text.remove_suffix(1);
    }
    while (!text.empty() && !out.budget().exhausted()) {
        out.budget().charge(entryCost);
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string line(text.substr(0, end));
        line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
        out << versionIndent << "| " << printable(line) << '\n';
        text.remove_prefix(std::min(end + 1, text.size()));
    }
}

} // namespace

struct PeImage::ResourceWalk {
    View root;                // from the resource directory to the end of its section
    std::uint64_t fileOffset; // of root
    std::set<std::uint32_t> visited;
    std::uint32_t entries = 0;
    bool stopped = false;
    std::optional<std::uint16_t> type; // the ID of the type being walked
};

void PeImage::listResources(Output& out, const Options& options) const
{
    heading(out, "Resources");
    const auto mapped = mapDirectory(out, dataDirectory::resources, "resource directory");
    if (!mapped) {
        return;
    }
    ResourceWalk walk{mapped->view, mapped->fileOffset, {}, 0, false, std::nullopt};
    if (const auto stamp = walk.root.u32(timeStampOffset)) {
        out << "  Time stamp " << hex(*stamp) << '\n';
    }
    listResourceDirectory(out, options, walk, 0, 0);
}

void PeImage::listResourceDirectory(Output& out, const Options& options, ResourceWalk& walk,
                                    std::uint32_t offset, int level) const
{
    const std::uint64_t at = walk.fileOffset + offset;
    if (!walk.visited.insert(offset).second) {
        report(out,
               "the resource directory at offset 0x" + toHex(offset) +
                   " is reached a second time (a loop); not followed",
               at);
        return;
    }
    std::array<std::uint8_t, directoryHeaderSize> header{};
    if (!walk.root.read(offset, header)) {
        report(out,
               "the resource directory at offset 0x" + toHex(offset) +
                   " lies past the end of its section",
               at);
        return;
    }
    std::uint64_t count =
        std::uint64_t{le16(&header[namedCountOffset])} + le16(&header[idCountOffset]);
    const std::uint64_t room = (walk.root.size() - offset - directoryHeaderSize) / entrySize;
    if (count > room) {
        report(out,
               "the resource directory's " + std::to_string(count) +
                   " entries run past the end of its section; " + std::to_string(room) +
                   " are read",
               at + namedCountOffset);
        count = room;
    }
    const std::string indent(static_cast<std::size_t>(2 + 2 * level), ' ');
    for (std::uint64_t i = 0; i < count && !walk.stopped && !out.budget().exhausted(); ++i) {
        out.budget().charge(entryCost);
        const std::uint64_t entryAt = offset + directoryHeaderSize + i * entrySize;
        if (++walk.entries > maxResourceEntries) {
            report(out,
                   "more resource entries than the limit of " + std::to_string(maxResourceEntries),
                   walk.fileOffset + entryAt);
            walk.stopped = true;
            return;
        }
        const std::uint32_t name = walk.root.u32(entryAt + entryNameField).value_or(0);
        const std::uint32_t target = walk.root.u32(entryAt + entryTargetField).value_or(0);
        out << indent << (level == 0 ? "Type " : level == 2 ? "Language " : "");
        if ((name & highBit) != 0) {
            const std::uint32_t nameOffset = name & ~highBit;
            // IMAGE_RESOURCE_DIR_STRING_U: a count of UTF-16 units, then the units.
            const auto length = walk.root.u16(nameOffset);
            std::vector<std::uint16_t> units;
            std::uint64_t unitAt = std::uint64_t{nameOffset} + sizeof(std::uint16_t);
            for (std::uint32_t k = 0; length && k < *length; ++k) {
                const auto unit = walk.root.u16(unitAt);
                if (!unit) {
                    break;
                }
                units.push_back(*unit);
                unitAt += sizeof(std::uint16_t);
            }
            out << (level == 1 ? "Name \"" : "\"") << printable(utf8FromUtf16(units)) << '"';
            if (!length || units.size() != *length) {
                out << '\n';
                report(out, "the entry's name runs past the end of the resource section",
                       walk.fileOffset + entryAt);
                continue;
            }
            if (level == 0) {
                walk.type.reset();
            }
        } else if (level == 2) {
            out << hex(name, 4);
        } else {
            out << (level == 1 ? "ID " : "") << dec(name);
            if (level == 0) {
                walk.type = static_cast<std::uint16_t>(name);
                if (const std::string_view type = resourceTypeName(name); !type.empty()) {
                    out << " (RT_" << type << ')';
                }
            }
        }
        if ((target & highBit) == 0) {
            listResourceData(out, options, walk, target);
            if (level + 1 != resourceLevels) {
                report(out, "a data entry where a subdirectory is expected",
                       walk.fileOffset + entryAt + 4);
            }
            continue;
        }
        out << '\n';
        if (level + 1 == resourceLevels) {
            report(out, "a subdirectory below the language level; not followed",
                   walk.fileOffset + entryAt + 4);
            continue;
        }
        listResourceDirectory(out, options, walk, target & ~highBit, level + 1);
    }
}

void PeImage::listResourceData(Output& out, const Options& options, const ResourceWalk& walk,
                               std::uint32_t entryOffset) const
{
    std::array<std::uint8_t, dataEntrySize> entry{};
    if (!walk.root.read(entryOffset, entry)) {
        out << '\n';
        report(out, "the data entry lies past the end of the resource section",
               walk.fileOffset + entryOffset);
        return;
    }
    const std::uint32_t rva = le32(&entry[0]);
    const std::uint32_t size = le32(&entry[4]);
    out << "  data RVA " << hex(rva) << "  size " << hex(size) << "  code page "
        << dec(le32(&entry[8])) << '\n';
    if (size == 0) {
        return;
    }
    const auto data = map(rva);
    if (!data) {
        report(out, "the resource data: " + whyUnmapped(rva), walk.fileOffset + entryOffset);
        return;
    }
    if (size > data->view.size()) {
        report(out, "the resource data runs past the end of its section",
               walk.fileOffset + entryOffset + 4);
    }
    const View bytes = data->view.sub(0, size);
    if (options.has(Switch::Raw)) {
        hexDisplay(bytes, 0, bytes.size(), out);
    }
    const bool version = walk.type == typeVersion;
    const bool manifest = walk.type == typeManifest;
    if (!version && !manifest) {
        return;
    }
    if (bytes.size() > (version ? maxVersionInfoSize : maxManifestSize)) {
        report(out, "the resource is too large to be decoded", data->fileOffset);
        return;
    }
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(bytes.size()));
    if (!bytes.read(0, buffer)) {
        report(out, "the resource data could not be read", data->fileOffset);
        return;
    }
    out.budget().charge(buffer.size());
    if (version) {
        listVersionInfo(out, buffer, data->fileOffset);
    } else {
        listManifest(out, buffer);
    }
}

} // namespace tdump
