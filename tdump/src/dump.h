#pragma once

// One listing: recognises the file, decides what each switch does for it,
// writes the heading and then the displays the switches ask for.

#include <cstddef>
#include <string_view>
#include <type_traits>
#include <variant>

#include "archive/archive.h"
#include "bytes.h"
#include "coff/coff.h"
#include "omf/omf.h"
#include "options.h"
#include "output.h"
#include "pdb/pdb.h"
#include "pe/pe.h"

namespace tdump {

struct DosExecutable {};
struct ImportObject {};
struct UnknownFile {};

// A file as recognition found it, read once; the listing uses what was read.
// The alternatives stand in the order of FileKind.
using ParsedFile = std::variant<PeImage, DosExecutable, CoffFile, ImportObject, Archive, PdbFile,
                                OmfObject, OmfLibrary, UnknownFile>;

static_assert(std::variant_size_v<ParsedFile> == static_cast<std::size_t>(FileKind::Unknown) + 1);
static_assert(
    std::is_same_v<
        std::variant_alternative_t<static_cast<std::size_t>(FileKind::CoffObject), ParsedFile>,
        CoffFile>);
static_assert(std::is_same_v<
              std::variant_alternative_t<static_cast<std::size_t>(FileKind::PdbFile), ParsedFile>,
              PdbFile>);
static_assert(
    std::is_same_v<
        std::variant_alternative_t<static_cast<std::size_t>(FileKind::OmfLibrary), ParsedFile>,
        OmfLibrary>);

// A file recognised as nothing is read as an OMF object all the same when
// forceObject (-o) asks for it and its first byte is an OMF record type.
ParsedFile parseFile(View file, bool forceObject = false);

inline FileKind kindOf(const ParsedFile& file)
{
    return static_cast<FileKind>(file.index());
}

// The work a listing of a file of this size may do.
std::uint64_t listingWorkLimit(std::uint64_t fileSize);

// The listing of the file reader reads; it stops early, saying so, when the
// budget of out runs out.
void dumpFile(const Options& options, std::string_view fileName, Reader& reader, Output& out);

} // namespace tdump
