#include "mz/mz.h"

#include <algorithm>
#include <string>
#include <utility>

#include "display/file_display.h"

namespace tdump {
namespace {

constexpr std::uint16_t dosSignature = 0x5A4D;  // "MZ"
constexpr std::uint64_t fixedFieldsSize = 0x1C; // up to e_ovno
constexpr std::uint64_t lfanewField = 0x3C;
constexpr std::uint32_t peSignature = 0x00004550; // "PE\0\0"
// The header that holds e_lfanew: 4 paragraphs.
constexpr std::uint64_t longHeaderSize = 0x40;
constexpr std::uint64_t pageSize = 512;
constexpr std::uint64_t relocationEntrySize = 4;
// The bytes of the stub program -v shows at most.
constexpr std::uint64_t maxStubShown = 4096;

// The loader reads e_lfanew as a signed 32-bit offset from the start of the
// file. When it cannot lead to a newer header the file is listed as an
// MS-DOS executable; the report says why.
void reportNewHeaderOffset(View view, std::uint32_t lfanew, Output& out)
{
    const std::uint64_t field = view.base() + lfanewField;
    constexpr std::uint64_t signatureSize = 4;
    if (const auto signedOffset = static_cast<std::int32_t>(lfanew); signedOffset < 0) {
        report(out,
               "e_lfanew is negative (" + std::to_string(signedOffset) +
                   " as a signed 32-bit value), so there is no PE header",
               field);
    } else if (lfanew >= view.size()) {
        report(out,
               "e_lfanew points past the end of the file (" + std::to_string(view.size()) +
                   " bytes), so there is no PE header",
               field);
    } else if (lfanew + signatureSize > view.size()) {
        report(out,
               "the PE signature at e_lfanew would run past the end of the file (" +
                   std::to_string(view.size()) + " bytes), so there is no PE header",
               field);
    }
}

std::string paragraphs(std::uint64_t count)
{
    return std::to_string(count) + (count == 1 ? " paragraph" : " paragraphs");
}

// Why e_lfanew is no header field of this MS-DOS header, or empty. The OEM
// fields and e_lfanew belong to the 4-paragraph header that newer formats
// put in front of their own; in a shorter header these bytes are the load
// image, and before an e_lfarlc of 0x40 the relocation table. Only the
// Windows loader reads e_lfanew whatever the header says, so where it leads
// to a PE signature it is a header field.
std::string whyNoNewHeaderOffset(View view)
{
    const MzHeader header = readMzHeader(view).value_or(MzHeader{});
    if (header.holdsNewHeaderOffset() ||
        view.u32(view.u32(lfanewField).value_or(0)) == peSignature) {
        return {};
    }
    if (header.imageStart() < longHeaderSize) {
        return "the header is " + paragraphs(header.headerParagraphs) + ", too short to hold it";
    }
    return "the relocation table starts at 0x" + toHex(header.relocationTable) +
           ", where it would be";
}

void listRelocations(View view, const MzHeader& header, Output& out)
{
    heading(out, "MS-DOS relocations");
    if (header.relocationCount == 0) {
        out << "  none\n";
        return;
    }
    out << "  " << dec(header.relocationCount) << " entries at file offset 0x"
        << hex(view.base() + header.relocationTable, 1) << "\n\n";
    out << "  Entry  Segment:Offset  Image offset  File offset\n";
    for (std::uint32_t i = 0; i < header.relocationCount; ++i) {
        const std::uint64_t at = std::uint64_t{header.relocationTable} + i * relocationEntrySize;
        const auto offset = view.u16(at);
        const auto segment = view.u16(at + 2);
        if (!offset || !segment) {
            report(out,
                   "the relocation table runs past the end of the file after " + std::to_string(i) +
                       " of " + std::to_string(header.relocationCount) + " entries",
                   view.base() + at);
            return;
        }
        const std::uint64_t imageOffset = std::uint64_t{*segment} * 16 + *offset;
        out << "  " << dec(i + 1, 5) << "  " << hex(*segment, 4) << ':' << hex(*offset, 4)
            << "       " << hex(imageOffset, 8) << "      "
            << hex(view.base() + header.imageStart() + imageOffset, 8);
        if (header.imageStart() + imageOffset + 2 > header.imageEnd()) {
            out << "  (outside the load image)";
        }
        out << '\n';
        if (out.budget().exhausted()) {
            return;
        }
    }
}

} // namespace

std::uint64_t MzHeader::imageEnd() const
{
    if (pages == 0) {
        return 0;
    }
    const std::uint64_t fullPages = pages - 1U;
    return fullPages * pageSize + (lastPageBytes == 0 ? pageSize : lastPageBytes);
}

bool MzHeader::holdsNewHeaderOffset() const
{
    return imageStart() >= longHeaderSize && relocationTable >= longHeaderSize;
}

bool hasDosHeader(View view)
{
    return view.u16(0) == dosSignature && view.size() >= fixedFieldsSize;
}

std::optional<MzHeader> readMzHeader(View view)
{
    if (!hasDosHeader(view)) {
        return std::nullopt;
    }
    const auto field = [&](std::uint64_t offset) { return view.u16(offset).value_or(0); };
    MzHeader header;
    header.lastPageBytes = field(0x02);
    header.pages = field(0x04);
    header.relocationCount = field(0x06);
    header.headerParagraphs = field(0x08);
    header.minExtraParagraphs = field(0x0A);
    header.maxExtraParagraphs = field(0x0C);
    header.ss = field(0x0E);
    header.sp = field(0x10);
    header.checksum = field(0x12);
    header.ip = field(0x14);
    header.cs = field(0x16);
    header.relocationTable = field(0x18);
    header.overlayNumber = field(0x1A);
    return header;
}

std::optional<std::uint32_t> newHeaderOffset(View view)
{
    const auto header = readMzHeader(view);
    if (!header || !header->holdsNewHeaderOffset()) {
        return std::nullopt;
    }
    return view.u32(lfanewField);
}

std::optional<std::uint32_t> newHeaderWithSignature(View view, std::string_view signature)
{
    const auto offset = newHeaderOffset(view);
    if (!offset || signature.size() != 2) {
        return std::nullopt;
    }
    const auto first = view.u8(*offset);
    const auto second = view.u8(std::uint64_t{*offset} + 1);
    if (first != static_cast<std::uint8_t>(signature[0]) ||
        second != static_cast<std::uint8_t>(signature[1])) {
        return std::nullopt;
    }
    return offset;
}

void listDosHeader(View view, Output& out, const Options& options)
{
    heading(out, "MS-DOS header");
    static constexpr std::pair<std::string_view, std::uint32_t> fields[] = {
        {"Magic (e_magic)", 0x00},
        {"Bytes on last page", 0x02},
        {"Pages in file", 0x04},
        {"Relocations", 0x06},
        {"Header paragraphs", 0x08},
        {"Minimum extra paragraphs", 0x0A},
        {"Maximum extra paragraphs", 0x0C},
        {"Initial SS", 0x0E},
        {"Initial SP", 0x10},
        {"Checksum", 0x12},
        {"Initial IP", 0x14},
        {"Initial CS", 0x16},
        {"Relocation table offset", 0x18},
        {"Overlay number", 0x1A},
    };
    for (const auto& [name, offset] : fields) {
        label(out, name) << hex(view.u16(offset).value_or(0), 4) << '\n';
    }
    if (const std::string whyNot = whyNoNewHeaderOffset(view); !whyNot.empty()) {
        label(out, "New header offset (e_lfanew)") << "not read: " << whyNot << '\n';
        return;
    }
    label(out, "OEM identifier") << hex(view.u16(0x24).value_or(0), 4) << '\n';
    label(out, "OEM information") << hex(view.u16(0x26).value_or(0), 4) << '\n';
    const std::uint32_t lfanew = view.u32(lfanewField).value_or(0);
    label(out, "New header offset (e_lfanew)") << hex(lfanew) << '\n';
    reportNewHeaderOffset(view, lfanew, out);
    if (options.verbose() && lfanew > longHeaderSize) {
        out << "\n  MS-DOS stub program:\n";
        hexDisplay(view, longHeaderSize,
                   std::min<std::uint64_t>(lfanew, longHeaderSize + maxStubShown), out);
    }
}

void listDosLoadImage(View view, Output& out, const Options& options)
{
    const MzHeader header = readMzHeader(view).value_or(MzHeader{});
    heading(out, "MS-DOS load image");
    const std::uint64_t start = header.imageStart();
    const std::uint64_t end = header.imageEnd();
    label(out, "File offset") << "0x" << hex(view.base() + start, 1) << " (after "
                              << paragraphs(header.headerParagraphs) << " of header)\n";
    if (header.lastPageBytes > pageSize) {
        report(out,
               "the last page is said to hold " + std::to_string(header.lastPageBytes) +
                   " bytes, more than a page of 512",
               view.base() + 0x02);
    }
    if (header.pages == 0) {
        out << "  none: the header counts no pages\n";
        return;
    }
    if (end < start) {
        report(out,
               "the page counts end the file's program at 0x" + toHex(end) +
                   ", before the header does: there is no load image",
               view.base() + 0x04);
        return;
    }
    label(out, "Size") << dec(end - start) << " bytes (0x" << hex(end - start, 1)
                       << "), to file offset 0x" << hex(view.base() + end, 1) << '\n';
    if (end > view.size()) {
        report(out,
               "the page counts end the load image at 0x" + toHex(end) +
                   ", past the end of the file (" + std::to_string(view.size()) + " bytes)",
               view.base() + 0x04);
    }
    label(out, "Entry point (CS:IP)") << hex(header.cs, 4) << ':' << hex(header.ip, 4) << '\n';
    label(out, "Stack (SS:SP)") << hex(header.ss, 4) << ':' << hex(header.sp, 4) << '\n';
    label(out, "Memory beyond the image") << paragraphs(header.minExtraParagraphs) << " at least, "
                                          << paragraphs(header.maxExtraParagraphs) << " at most\n";
    if (!options.has(Switch::NoRelocs)) {
        listRelocations(view, header, out);
    }
    heading(out, "MS-DOS overlay");
    if (end >= view.size()) {
        out << "  none: the file ends with the load image\n";
        return;
    }
    label(out, "File offset") << "0x" << hex(view.base() + end, 1) << '\n';
    label(out, "Size") << dec(view.size() - end) << " bytes (0x" << hex(view.size() - end, 1)
                       << ")\n";
}

void showNewExecutable(View file, const NewExecutable& image, DisplaySet wanted, Output& out,
                       const Options& options)
{
    if (wanted.hasAny({Display::Executable, Display::DosHeaderOnly})) {
        if (options.has(Switch::NoNewExe)) {
            listDosHeader(file, out, options);
            listDosLoadImage(file, out, options);
        } else {
            if (options.exeTable(tableHeaders)) {
                listDosHeader(file, out, options);
            }
            image.listTables(out, options);
        }
    }
    if (wanted.has(Display::Exports)) {
        image.listExports(out, options.exportFilter);
    }
    if (wanted.has(Display::Imports)) {
        image.listImports(out, options.importFilter);
    }
    if (wanted.has(Display::ImportModules)) {
        image.listImportModules(out, options.moduleFilter);
    }
}

} // namespace tdump
