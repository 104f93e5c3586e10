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

struct SwitchUse {
    std::string text; // as given on the command line
    Switch which;
    std::string meaning; // what it does in this run
    std::string remark;  // a problem with its argument, or empty
};

// Parts of the executable display that -ei selects.
enum ExeTable : unsigned {
    tableHeaders = 1,  // HDR
    tableSections = 2, // OBJ
    tableFixups = 4,   // FIX
    tableImports = 8,  // NAM
    tableExports = 16, // ENT
    tableAll = 31,
};

// Debug directory entry types 0..19 are chosen by the letters a..t.
constexpr int debugTypeLetters = 20;

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
    std::uint32_t debugInclude = 0; // 0: every type
    std::uint32_t debugExclude = 0;
    std::vector<std::string> sectionInclude;
    std::vector<std::string> sectionExclude;

    bool has(Switch which) const;
    bool demangle() const { return !has(Switch::RawNames); }
    bool verbose() const { return has(Switch::Verbose); }
    // Whether the section of this name is listed, after -oi and -ox.
    bool sectionSelected(std::string_view name) const;
    bool debugTypeSelected(std::uint32_t type) const;
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
