#pragma once

// The command line: tdump <switch>... <input file> [<list file>].
// Switches are accepted exactly as the front-end passes them, placeholders
// such as "-b#" and "-eiID" included; each one carries a note the listing
// prints in its header, so no switch ever goes by unmentioned.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tdump {

enum class Switch {
    Ascii,          // -a
    Ascii7,         // -a7
    Offset,         // -b<n>
    Coff,           // -C
    Debug,          // -d
    Exe,            // -e
    ExeTables,      // -ei<table>
    Exports,        // -ee[=x]
    Imports,        // -em[=x]
    ImportModules,  // -em.[x]
    NoDebug,        // -ed
    NoLines,        // -el
    NoRelocs,       // -er
    NoNewExe,       // -ex
    Hex,            // -h
    DebugInclude,   // -i<letters>
    Library,        // -l
    Impdef,         // -li[=x]
    RawNames,       // -m
    Obj,            // -o
    Checksum,       // -oc
    SectionInclude, // -oi<name>
    SectionExclude, // -ox<name>
    DebugExclude,   // -x<letters>
    Raw,            // -r
    Relocs,         // -R
    Verbose,        // -v
    Unmangle,       // -um
};

// The kinds of file a listing tells apart.
enum class FileKind {
    PeImage,
    DosExecutable,
    CoffObject,
    ImportObject,
    Archive,
    PdbFile,
    OmfObject,
    OmfLibrary,
    Unknown
};

constexpr unsigned kindBit(FileKind kind)
{
    return 1u << static_cast<unsigned>(kind);
}

// OMF objects and libraries: records instead of headers and sections, so
// some switches read differently on them.
constexpr bool isOmf(FileKind kind)
{
    return kind == FileKind::OmfObject || kind == FileKind::OmfLibrary;
}

// What a switch asks the listing to show. Modifiers show nothing of their
// own: they change what the displays show.
enum class Display {
    Modifier,
    Executable,    // -e, -ei, -ex
    Exports,       // -ee
    Imports,       // -em
    ImportModules, // -em.
    Debug,         // -d, -i, -x
    Relocations,   // -R
    Coff,          // -C, -o
    Records,       // -o on OMF files: their records
    Library,       // -l
    Impdef,        // -li
    Checksum,      // -oc
    Raw,           // -r
    Hex,           // -h
    Offset,        // -b: the hexadecimal display, unless a text display is asked for
    Ascii,         // -a
    Ascii7,        // -a7
    Unmangle,      // -um
};

struct Options;
struct SwitchUse;

// How a switch reads on OMF objects and libraries where that differs from
// its reading on other files: what it shows there, and how its argument is
// parsed for them (into use.omfMeaning and use.omfRemark; nullptr when the
// meaning says all).
struct OmfReading {
    Display display;
    std::string_view meaning;
    void (*parseArgument)(std::string_view argument, Options& options, SwitchUse& use);
};

// One switch, whole: its name, how its argument is parsed, what it shows,
// and the kinds of file it applies to (with why not, for the others).
struct SwitchRow {
    std::string_view name; // after the '-'
    Switch which;
    Display display;
    unsigned appliesTo; // kindBit()s
    std::string_view meaning;
    std::string_view whyNot; // for a kind of file it does not apply to
    // Parses the text after the name into options and use (meaning and
    // remark); nullptr for a switch that takes no argument.
    void (*parseArgument)(std::string_view argument, Options& options, SwitchUse& use);
    // Its reading on OMF files; nullptr: the same as on any other file.
    const OmfReading* omf = nullptr;
};

struct SwitchUse {
    std::string text; // as given on the command line
    const SwitchRow* row;
    std::string meaning; // what it does in this run
    std::string remark;  // a problem with its argument, or empty
    // The same on OMF files, for a switch that reads differently there.
    std::string omfMeaning;
    std::string omfRemark;

    Switch which() const { return row->which; }
    // Why it does nothing for this kind of file, or nullopt when it applies.
    std::optional<std::string_view> whyNoEffect(FileKind kind) const;
    // What it shows, does and has to say about its argument on this kind of file.
    Display displayOn(FileKind kind) const;
    std::string_view meaningOn(FileKind kind) const;
    std::string_view remarkOn(FileKind kind) const;

private:
    // Whether it has an OMF reading of its own, and the file is an OMF one.
    bool readsAsOmf(FileKind kind) const;
};

// Parts of the executable display that -ei selects.
enum ExeTable : unsigned {
    tableHeaders = 1,        // HDR
    tableSections = 2,       // OBJ
    tableFixups = 4,         // FIX
    tableImports = 8,        // NAM
    tableExports = 16,       // ENT
    tableResources = 32,     // RES
    tableTls = 64,           // TLS
    tableLoadConfig = 128,   // CFG
    tableExceptions = 256,   // EXC
    tableCertificates = 512, // CRT
    tableOverlay = 1024,     // OVL
    tableAll = 2047,
};

// The debug tables -i and -x choose, by the letters a..t in this order.
enum class DebugTable : unsigned {
    Directory,            // a: a PE image's debug directory
    Symbols,              // b: symbol records of objects and modules
    Lines,                // c: line numbers
    FileChecksums,        // d: the source files and their checksums
    StringTable,          // e: the names the line tables refer to
    InlineeLines,         // f: where inlined functions come from
    OtherSubsections,     // g: the other CodeView subsections
    Types,                // h: type records
    Ids,                  // i: ID records (functions, strings, build information)
    PrecompiledTypes,     // j: an object's precompiled types (.debug$P)
    StreamDirectory,      // k: a PDB's superblock and stream directory
    PdbInformation,       // l: a PDB's information stream and named streams
    Modules,              // m: the DBI stream's header and modules
    SectionContributions, // n
    SectionMap,           // o
    SourceFiles,          // p: the source files of each module
    Globals,              // q: global symbols
    Publics,              // r: public symbols
    TypeStreamHeaders,    // s: the type streams' headers
    DebugHeaderStreams,   // t: the DBI stream's optional debug streams
};
constexpr unsigned debugTableCount = 20;

// "a=debug directory b=symbols ...": which letter is which table.
std::string_view debugTableLetters();

struct Options {
    std::vector<SwitchUse> switches;
    std::string input;
    std::optional<std::string> listFile;

    std::uint64_t offset = 0;
    std::string exportFilter;
    std::string importFilter;
    std::string moduleFilter;
    std::string impdefFilter;
    unsigned exeTables = 0;         // 0: every table
    std::uint32_t debugInclude = 0; // 0: every table
    std::uint32_t debugExclude = 0;
    std::vector<std::string> sectionInclude;
    std::vector<std::string> sectionExclude;
    // OMF record names (upper case) that -oi and -ox give.
    std::vector<std::string> recordInclude;
    std::vector<std::string> recordExclude;

    bool has(Switch which) const;
    bool demangle() const { return !has(Switch::RawNames); }
    bool verbose() const { return has(Switch::Verbose); }
    // Whether the section of this name is listed, after -oi and -ox.
    bool sectionSelected(std::string_view name) const;
    // Whether the table is listed, after -i and -x.
    bool debugTableSelected(DebugTable table) const;
    bool exeTable(ExeTable table) const { return exeTables == 0 || (exeTables & table) != 0; }
};

struct ParseResult {
    Options options;
    std::string error; // empty when the command line is usable
};

ParseResult parseCommandLine(const std::vector<std::string>& arguments);

std::string_view usageText();

// Case-insensitive (ASCII) substring test used by every name filter; an
// empty filter matches everything.
bool matchesFilter(std::string_view name, std::string_view filter);

} // namespace tdump
