#pragma once

// The Relocatable Object Module Format (OMF): the records of 16- and 32-bit
// x86 object modules, as MS-DOS, OS/2 and 16-bit Windows translators wrote
// them and NASM's -f obj still does, and the libraries made of them, whose
// hashed dictionary holds every module's public names.

#include <cstdint>
#include <optional>
#include <string>

#include "bytes.h"
#include "omf/record_types.h"
#include "options.h"
#include "output.h"

namespace tdump {

// An object module starts with its translator header: THEADR or LHEADR,
// whose name lies inside it.
bool isOmfObject(View view);

class OmfObject {
public:
    // How the file came to be read as an object: by its translator header,
    // or because -o asked for it.
    enum class Origin { TranslatorHeader, Forced };

    explicit OmfObject(View view, Origin origin = Origin::TranslatorHeader);

    Origin origin() const { return origin_; }
    // "OMF object module, hello.asm" for the heading.
    std::string description() const;
    // Every record, its fields decoded and the indexes in them resolved.
    void listRecords(Output& out, const Options& options) const;
    // -oc: the checksum byte of every record.
    void listChecksums(Output& out, const Options& options) const;
    // -r: the bytes of every record.
    void listRawRecords(Output& out, const Options& options) const;
    // -li: the import definitions.
    void listImpdef(Output& out, const Options& options) const;

private:
    View view_;
    Origin origin_;
    std::string name_; // from the translator header
};

// The library header record: its length gives the page size, on whose
// boundaries the modules start.
struct OmfLibraryHeader {
    std::uint32_t pageSize = 0;
    std::uint32_t dictionaryOffset = 0;
    std::uint16_t dictionaryBlocks = 0;
    std::uint8_t flags = 0;
};

// The header of the library the view holds, or nullopt when it holds none.
std::optional<OmfLibraryHeader> readOmfLibraryHeader(View view);

class OmfLibrary {
public:
    OmfLibrary(View view, const OmfLibraryHeader& header) : view_(view), header_(header) {}

    std::string description() const;
    // -l: the header, each module with its public names (its records with
    // -v), the end record, and the dictionary checked against the modules.
    void listLibrary(Output& out, const Options& options) const;
    // -o: the records of every module.
    void listRecords(Output& out, const Options& options) const;
    void listChecksums(Output& out, const Options& options) const;
    void listRawRecords(Output& out, const Options& options) const;
    void listImpdef(Output& out, const Options& options) const;

private:
    View view_;
    OmfLibraryHeader header_;
};

} // namespace tdump
