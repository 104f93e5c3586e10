#pragma once

// MS-DOS ("MZ") executables: the header, the load image the page counts
// describe, its relocation entries and the overlay after it; and where the
// header of a newer format (PE, NE, LE, LX) lies behind an MS-DOS stub.

#include <cstdint>
#include <optional>
#include <string_view>

#include "bytes.h"
#include "options.h"
#include "output.h"

namespace tdump {

// The fixed fields of IMAGE_DOS_HEADER, up to the overlay number.
struct MzHeader {
    std::uint16_t lastPageBytes = 0;    // e_cblp: bytes used on the last page, 0 for all 512
    std::uint16_t pages = 0;            // e_cp: 512-byte pages of header and load image
    std::uint16_t relocationCount = 0;  // e_crlc
    std::uint16_t headerParagraphs = 0; // e_cparhdr
    std::uint16_t minExtraParagraphs = 0;
    std::uint16_t maxExtraParagraphs = 0;
    std::uint16_t ss = 0;
    std::uint16_t sp = 0;
    std::uint16_t checksum = 0;
    std::uint16_t ip = 0;
    std::uint16_t cs = 0;
    std::uint16_t relocationTable = 0; // e_lfarlc
    std::uint16_t overlayNumber = 0;

    // Where the load image starts in the file: after the header.
    std::uint64_t imageStart() const { return std::uint64_t{headerParagraphs} * 16; }
    // Where it ends, as the page counts say (header included).
    std::uint64_t imageEnd() const;
    // Whether the header is long enough, and its relocation table far
    // enough behind it, for e_lfanew to be a header field.
    bool holdsNewHeaderOffset() const;
};

// Whether view starts with "MZ" and is long enough for the fixed fields.
bool hasDosHeader(View view);
std::optional<MzHeader> readMzHeader(View view);

// e_lfanew, when the MS-DOS header holds it (MzHeader::holdsNewHeaderOffset).
std::optional<std::uint32_t> newHeaderOffset(View view);
// The offset of the newer header behind an MS-DOS stub when it starts with
// signature ("NE", "LE", "LX"); nullopt when the file is no such executable.
std::optional<std::uint32_t> newHeaderWithSignature(View view, std::string_view signature);

// The MS-DOS header's fields, e_lfanew with what is wrong with it (or why
// it is no header field here), and with -v the stub program's bytes.
void listDosHeader(View view, Output& out, const Options& options);
// The load image, its relocation entries (not with -er) and the overlay.
void listDosLoadImage(View view, Output& out, const Options& options);

// An executable of a newer format behind an MS-DOS stub (NE, LE, LX): what
// its listed file shows besides the stub.
class NewExecutable {
public:
    NewExecutable() = default;
    NewExecutable(const NewExecutable&) = default;
    NewExecutable& operator=(const NewExecutable&) = default;
    virtual ~NewExecutable() = default;

    // Its own header and tables, those -ei chooses.
    virtual void listTables(Output& out, const Options& options) const = 0;
    virtual void listExports(Output& out, std::string_view filter) const = 0;
    virtual void listImports(Output& out, std::string_view filter) const = 0;
    virtual void listImportModules(Output& out, std::string_view filter) const = 0;
};

// The displays such an executable has: -e, -ex, -ee, -em, -em., -er, -v.
constexpr DisplaySet newExecutableDisplays{
    Display::Executable,    Display::DosHeaderOnly,       Display::Exports, Display::Imports,
    Display::ImportModules, Display::LeaveOutRelocations, Display::Verbose};

// What such an executable shows of wanted: -e the MS-DOS header and its
// tables, -ex the MS-DOS part only, -ee, -em and -em. with their filters.
void showNewExecutable(View file, const NewExecutable& image, DisplaySet wanted, Output& out,
                       const Options& options);

} // namespace tdump
