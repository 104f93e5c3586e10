#pragma once

// PE images (EXE, DLL): the MS-DOS header, the PE headers and the tables the
// data directories point at.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bytes.h"
#include "coff/coff.h"
#include "mz/mz.h"
#include "options.h"
#include "output.h"

namespace tdump {

// The import listings: each function, or only the modules.
enum class ImportDetail { Functions, ModulesOnly };
enum class RelocationDetail { Blocks, Entries };

// The data directories the listing reads, by their index in the optional header.
namespace dataDirectory {
constexpr std::size_t exports = 0;
constexpr std::size_t imports = 1;
constexpr std::size_t resources = 2;
constexpr std::size_t exceptions = 3;
constexpr std::size_t certificates = 4;
constexpr std::size_t baseRelocations = 5;
constexpr std::size_t debug = 6;
constexpr std::size_t tls = 9;
constexpr std::size_t loadConfig = 10;
constexpr std::size_t delayImports = 13;
} // namespace dataDirectory

// IMAGE_FILE_DLL in the file header's characteristics.
constexpr std::uint16_t imageFileDll = 0x2000;

class PeImage {
public:
    // nullopt unless view holds an MZ header whose e_lfanew leads to "PE\0\0".
    static std::optional<PeImage> open(View view);

    bool isDll() const { return (coff_.header().characteristics & imageFileDll) != 0; }
    // e.g. "PE32+ image (DLL), x86-64 (AMD64)"
    std::string description() const;
    const CoffFile& coff() const { return coff_; }

    void listHeaders(Output& out, const Options& options) const;
    void listSections(Output& out, const Options& options) const;
    void listExports(Output& out, const Options& options, std::string_view filter) const;
    void listImports(Output& out, const Options& options, ImportDetail detail,
                     std::string_view filter) const;
    void listDelayImports(Output& out, const Options& options, ImportDetail detail,
                          std::string_view filter) const;
    void listDebugDirectory(Output& out, const Options& options) const;
    // The DWARF tables of the .debug_* sections MinGW-w64's linkers keep.
    void listDwarf(Output& out, const Options& options) const;
    // Block by block; with entries, every relocation of every block.
    void listBaseRelocations(Output& out, RelocationDetail detail) const;
    // The exports as the lines of a module definition file.
    void listImpdef(Output& out, const Options& options) const;
    // The stored image checksum against the one computed over the file.
    void listChecksum(Output& out) const;

    // The resource tree: types, names or IDs, languages, sizes; the version
    // information's strings and the manifest's text decoded.
    void listResources(Output& out, const Options& options) const;
    // The TLS directory and its callbacks.
    void listTls(Output& out, const Options& options) const;
    // The load configuration: security cookie, SEH table, guard flags and tables.
    void listLoadConfig(Output& out, const Options& options) const;
    // The exception table: per function its range and, on x64, its unwind information.
    void listExceptions(Output& out, const Options& options) const;
    // The attribute certificate table: each entry's type and length.
    void listCertificates(Output& out) const;
    // The bytes after the last section's data, if any.
    void listOverlay(Output& out) const;

private:
    struct Directory {
        std::uint32_t rva = 0;
        std::uint32_t size = 0;
    };
    // Where an RVA's bytes are: the part of the file from there to the end of
    // its section's data.
    struct Mapped {
        View view;
        std::uint64_t fileOffset;
    };

    PeImage(View view, std::uint32_t peOffset, CoffFile coff);

    std::optional<std::uint64_t> optionalField(std::uint32_t offset, std::uint32_t size) const;
    // The section whose memory range holds rva, or nullptr.
    const SectionHeader* sectionContaining(std::uint32_t rva) const;
    std::optional<Directory> directory(std::size_t index) const;
    std::optional<Mapped> map(std::uint32_t rva) const;
    std::string whyUnmapped(std::uint32_t rva) const;
    std::optional<std::string> nameAt(std::uint32_t rva) const;
    std::string sectionOf(std::uint32_t rva) const;
    // The directory, mapped, or a report of why not (and nullopt).
    std::optional<Mapped> mapDirectory(Output& out, std::size_t index, std::string_view what) const;

    void listOptionalHeader(Output& out, const Options& options) const;
    void listDataDirectories(Output& out) const;
    // A module's heading in the import listing; under a filter it waits
    // until an entry of the module, or damage in it, is shown.
    struct ModuleHeading {
        std::string text;
        bool due = false;
        bool shown = false;
        void showIfDue(Output& out)
        {
            if (due && !shown) {
                out << text;
                shown = true;
            }
        }
        void show(Output& out)
        {
            due = true;
            showIfDue(out);
        }
    };
    void listThunks(Output& out, const Options& options, std::uint32_t tableRva,
                    std::string_view filter, bool moduleMatches, std::uint64_t imageBaseToSubtract,
                    ModuleHeading& heading) const;

    struct ExportEntry {
        std::uint32_t ordinal;
        std::uint32_t rva;
        std::string name;      // empty: exported by ordinal only
        std::string forwarder; // non-empty: forwarded to another DLL
    };
    // Calls back for each export; reports what is malformed as it goes.
    template <typename Visit>
    bool walkExports(Output& out, std::string& dllName, Visit visit) const;

    // The resource tree, one directory at a time (level 0: types, 1: names,
    // 2: languages), and the data of one leaf.
    struct ResourceWalk;
    void listResourceDirectory(Output& out, const Options& options, ResourceWalk& walk,
                               std::uint32_t offset, int level) const;
    void listResourceData(Output& out, const Options& options, const ResourceWalk& walk,
                          std::uint32_t entryOffset) const;
    // The RVA of a virtual address inside the image, or nullopt.
    std::optional<std::uint32_t> rvaOfAddress(std::uint64_t address) const;
    // The RVAs of a table the load configuration points at, entries
    // 4 + extraBytes long.
    void listRvaTable(Output& out, std::string_view title, std::uint64_t tableAddress,
                      std::uint64_t count, std::uint32_t extraBytes) const;
    // An x64 function's unwind information, under its RUNTIME_FUNCTION line.
    void listUnwindInfo(Output& out, std::uint32_t rva, std::uint64_t referenceOffset) const;
    // An ARM64 .pdata entry's second word: packed unwind data, or the RVA
    // of its .xdata record.
    void listArm64Unwind(Output& out, std::uint32_t unwindWord,
                         std::uint64_t referenceOffset) const;

    View view_;
    std::uint32_t peOffset_;
    CoffFile coff_;
    bool pe32Plus_ = false;
    std::uint16_t magic_ = 0;
    std::uint64_t optionalOffset_ = 0;
    std::uint32_t optionalSize_ = 0; // the part of the optional header inside the file
    std::uint64_t imageBase_ = 0;
    std::uint32_t sizeOfHeaders_ = 0;
    std::uint32_t directoryCount_ = 0;
    std::vector<std::size_t> byAddress_; // section indexes in address order, for lookups
};

} // namespace tdump
