#pragma once

// The command line: tdump <switch>... <input file> [<list file>].
// Switches are accepted exactly as the front-end passes them, placeholders
// such as "-b#" and "-eiID" included; each one carries a note the listing
// prints in its header, so no switch ever goes by unmentioned.

#include <algorithm>
#include <cstdint>
#include <initializer_list>
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

// What a switch asks of a file. The displays before firstModifier show
// something; the modifiers change what the displays show. Whether a switch
// does anything for a file is the file's to say (ListedFile::displays).
enum class Display {
    // Shown alike for every file, by the listing itself.
    Hex,      // -h
    Offset,   // -b: the hexadecimal display, unless a text display is asked for
    Ascii,    // -a
    Ascii7,   // -a7
    Unmangle, // -um
    // Shown by the file's format.
    Executable,    // -e, -ei
    DosHeaderOnly, // -ex: the executable display cut down to the MS-DOS header
    Exports,       // -ee
    Imports,       // -em
    ImportModules, // -em.
    Debug,         // -d
    DebugTables,   // -i, -x: the debug display, some tables only
    Relocations,   // -R
    Coff,          // -C
    Object,        // -o: the COFF display, forced on any file; a record file's records
    Library,       // -l
    Impdef,        // -li
    Checksum,      // -oc
    Raw,           // -r
    // Modifiers.
    LeaveOutDebug,       // -ed
    LeaveOutLines,       // -el
    LeaveOutRelocations, // -er
    NameChoice,          // -oi, -ox
    StoredNames,         // -m
    Verbose,             // -v
};
constexpr Display firstModifier = Display::LeaveOutDebug;

// A set of displays.
class DisplaySet {
public:
    constexpr DisplaySet() = default;
    constexpr DisplaySet(std::initializer_list<Display> displays)
    {
        for (const Display display : displays) {
            add(display);
        }
    }

    constexpr void add(Display display) { bits_ |= bit(display); }
    constexpr bool has(Display display) const { return (bits_ & bit(display)) != 0; }
    constexpr bool hasAny(DisplaySet other) const { return (bits_ & other.bits_) != 0; }
    constexpr bool empty() const { return bits_ == 0; }

private:
    static constexpr std::uint32_t bit(Display display)
    {
        return std::uint32_t{1} << static_cast<unsigned>(display);
    }

    std::uint32_t bits_ = 0;
};

// The displays every file has: the listing shows them, not the file's format.
constexpr DisplaySet everyFileDisplays{Display::Hex, Display::Offset, Display::Ascii,
                                       Display::Ascii7, Display::Unmangle};

// Some switches read differently on files made of records instead of
// headers and sections (OMF): -o lists the records, -oi and -ox name record
// types, -r and -oc show the records' bytes and checksums. The file's format
// says which reading it takes.
enum class Reading { Sections, Records };

struct Options;
struct SwitchUse;

// A switch's reading on record files: what it does there, and how its
// argument is parsed for them (into use.recordsMeaning and
// use.recordsRemark; nullptr when the meaning says all).
struct RecordsReading {
    std::string_view meaning;
    void (*parseArgument)(std::string_view argument, Options& options, SwitchUse& use);
};

// One switch, whole: its name, how its argument is parsed and what it asks
// of a file.
struct SwitchRow {
    std::string_view name;     // after the '-'
    std::string_view argument; // its form in the usage text, e.g. "<table>"
    Switch which;
    Display display;
    std::string_view meaning;
    // Parses the text after the name into options and use (meaning and
    // remark); nullptr for a switch that takes no argument.
    void (*parseArgument)(std::string_view argument, Options& options, SwitchUse& use);
    // Its reading on record files; nullptr: the same as on any other file.
    const RecordsReading* records = nullptr;
};

struct SwitchUse {
    std::string text; // as given on the command line
    const SwitchRow* row;
    std::string meaning; // what it does in this run
    std::string remark;  // a problem with its argument, or empty
    // The same on record files, for a switch that reads differently there.
    std::string recordsMeaning;
    std::string recordsRemark;

    Switch which() const { return row->which; }
    Display display() const { return row->display; }
    // What it does and has to say about its argument in this reading.
    std::string_view meaningIn(Reading reading) const;
    std::string_view remarkIn(Reading reading) const;
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

// The debug tables -i and -x choose, by the letters a..x in this order.
// CodeView's and DWARF's tables share a letter where they mean the same.
enum class DebugTable : unsigned {
    Directory,            // a: a PE image's debug directory
    Symbols,              // b: symbol records; DWARF's units and their entries
    Lines,                // c: line numbers; DWARF's line programs
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
    AddressRanges,        // u: DWARF's .debug_aranges
    RangeLists,           // v: DWARF's .debug_ranges and .debug_rnglists
    LocationLists,        // w: DWARF's .debug_loc and .debug_loclists
    CallFrames,           // x: DWARF's .debug_frame
};
constexpr unsigned debugTableCount = 24;

// "a=debug directory b=symbols ...": which letter is which table.
std::string debugTableLetters();

// What a pair of switches chooses, one naming what is listed only (-oi,
// -i) and one what is left out (-ox, -x): an item is chosen unless "only"
// names something and not it, or "without" names it.
template <class Name> struct Choice {
    std::vector<Name> only;
    std::vector<Name> without;

    // names(name): whether name stands for the item in question.
    template <class Names> bool chooses(Names names) const
    {
        return (only.empty() || std::any_of(only.begin(), only.end(), names)) &&
               std::none_of(without.begin(), without.end(), names);
    }
};

struct Options {
    std::vector<SwitchUse> switches;
    std::string input;
    std::optional<std::string> listFile;

    std::uint64_t offset = 0;
    std::string exportFilter;
    std::string importFilter;
    std::string moduleFilter;
    std::string impdefFilter;
    unsigned exeTables = 0; // 0: every table
    Choice<DebugTable> debugTables;
    Choice<std::string> sections; // by the start of their names
    Choice<std::string> records;  // OMF record names, upper case

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
