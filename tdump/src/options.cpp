#include "options.h"

#include <algorithm>
#include <charconv>

#include "names.h"
#include "omf/record_types.h"

namespace tdump {
namespace {

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// "ID" is the front-end's placeholder for a table or record name.
bool isPlaceholder(std::string_view argument)
{
    return argument.empty() || argument == "ID";
}

std::string quoted(std::string_view text)
{
    std::string result(1, '"');
    result += text;
    result += '"';
    return result;
}

std::optional<std::uint64_t> parseNumber(std::string_view text)
{
    int base = 10;
    if (startsWith(text, "0x") || startsWith(text, "0X")) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// "-oi": the switch as the table names it, without its argument.
std::string switchText(const SwitchUse& use)
{
    std::string text(1, '-');
    text += use.row->name;
    return text;
}

std::string filterMeaning(std::string_view what, std::string_view filter)
{
    std::string text(what);
    if (!filter.empty()) {
        text += " whose name contains " + quoted(filter);
    }
    return text;
}

// -ee, -em, -em., -li: "-ee=name" or "-eename", the '=' optional.
template <std::string Options::*filter>
void parseFilter(std::string_view argument, Options& options, SwitchUse& use)
{
    if (startsWith(argument, "=")) {
        argument.remove_prefix(1);
    }
    options.*filter = std::string(argument);
    use.meaning = filterMeaning(use.row->meaning, options.*filter);
}

// The same filter, as the switch reads on OMF files (parseFilter has set it).
template <std::string Options::*filter>
void parseOmfFilter(std::string_view, Options& options, SwitchUse& use)
{
    use.omfMeaning = filterMeaning(use.row->omf->meaning, options.*filter);
}

void parseOffset(std::string_view argument, Options& options, SwitchUse& use)
{
    if (const auto value = parseNumber(argument)) {
        options.offset = *value;
        use.meaning = "file display from offset " + std::to_string(*value);
        return;
    }
    options.offset = 0;
    use.meaning = "file display from offset 0";
    use.remark = "-b needs a number, e.g. -b1024 or -b0x400; the display starts at offset 0";
}

void parseExeTable(std::string_view argument, Options& options, SwitchUse& use)
{
    static constexpr std::pair<std::string_view, ExeTable> names[] = {
        {"HDR", tableHeaders},      {"OBJ", tableSections},   {"FIX", tableFixups},
        {"NAM", tableImports},      {"ENT", tableExports},    {"RES", tableResources},
        {"TLS", tableTls},          {"CFG", tableLoadConfig}, {"EXC", tableExceptions},
        {"CRT", tableCertificates}, {"OVL", tableOverlay}};
    static constexpr std::string_view choices =
        "HDR (headers), OBJ (sections), FIX (base relocations), "
        "NAM (imports), ENT (exports), RES (resources), TLS (thread-local storage), "
        "CFG (load configuration), EXC (exception table), CRT (certificates), OVL (overlay)";
    if (isPlaceholder(argument) || argument == "?") {
        use.meaning = "executable display, every table";
        use.remark = "-ei needs a table name: " + std::string(choices);
        return;
    }
    const std::string upper = upperCase(argument);
    for (const auto& [name, table] : names) {
        if (upper == name) {
            options.exeTables |= table;
            use.meaning = "executable display, table " + std::string(name) + " only";
            return;
        }
    }
    use.meaning = "executable display, every table";
    use.remark = "unknown table " + quoted(argument) + "; the tables are " + std::string(choices);
}

// -i and -x: the letters a..t name the debug tables.
template <std::uint32_t Options::*mask>
void parseDebugLetters(std::string_view argument, Options& options, SwitchUse& use)
{
    const std::string letters(debugTableLetters());
    if (isPlaceholder(argument) || argument == "?") {
        use.meaning = "debug information, every table";
        use.remark = switchText(use) + " needs debug table letters: " + letters;
        return;
    }
    std::string unknown;
    for (const char c : argument) {
        if (c >= 'a' && c < static_cast<char>('a' + debugTableCount)) {
            options.*mask |= std::uint32_t{1} << (c - 'a');
        } else {
            unknown += c;
        }
    }
    use.meaning = std::string(use.row->meaning) + quoted(argument);
    if (!unknown.empty()) {
        use.remark =
            "letters " + quoted(unknown) + " name no debug table; the letters are " + letters;
    }
}

// -oi and -ox: sections whose name starts with the argument.
template <std::vector<std::string> Options::*names>
void parseSectionName(std::string_view argument, Options& options, SwitchUse& use)
{
    if (isPlaceholder(argument) || argument == "?") {
        use.meaning = "every section listed";
        use.remark = switchText(use) +
                     " needs a section name or the start of one, e.g. .text or .debug; "
                     "the section table shows the names";
        return;
    }
    (options.*names).emplace_back(argument);
    use.meaning = std::string(use.row->meaning) + quoted(argument);
}

// -oi and -ox on OMF files: records of the named type. A name without "32"
// takes in both forms of a record (PUBDEF: 90 and 91), one with it only the
// 32-bit form (PUBDEF32: 91).
template <std::vector<std::string> Options::*names>
void parseRecordName(std::string_view argument, Options& options, SwitchUse& use)
{
    const std::string list = "the record names are " + omfRecordNames();
    if (isPlaceholder(argument) || argument == "?") {
        use.omfMeaning = "every record listed";
        use.omfRemark = switchText(use) + " needs a record name, e.g. PUBDEF; " + list;
        return;
    }
    const std::string upper = upperCase(argument);
    if (!isOmfRecordName(upper)) {
        use.omfMeaning = "every record listed";
        use.omfRemark = "unknown record name " + quoted(argument) + "; " + list;
        return;
    }
    (options.*names).push_back(upper);
    use.omfMeaning = std::string(use.row->omf->meaning) + upper;
}

constexpr OmfReading omfLibrary{Display::Library,
                                "library display: header, modules and their public names, "
                                "dictionary checked against the modules",
                                nullptr};
constexpr OmfReading omfImpdef{Display::Impdef, "IMPDEF lines of the import definition records",
                               parseOmfFilter<&Options::impdefFilter>};
constexpr OmfReading omfRecords{Display::Records, "OMF record display", nullptr};
constexpr OmfReading omfChecksums{Display::Checksum, "record checksums verified", nullptr};
constexpr OmfReading omfRecordInclude{Display::Modifier, "only records of type ",
                                      parseRecordName<&Options::recordInclude>};
constexpr OmfReading omfRecordExclude{Display::Modifier, "leaves out records of type ",
                                      parseRecordName<&Options::recordExclude>};
constexpr OmfReading omfRaw{Display::Raw, "raw bytes of the records", nullptr};

constexpr unsigned anyKind = ~0u;
constexpr unsigned peImage = kindBit(FileKind::PeImage);
// A program database is all debug information: the debug switches show it.
constexpr unsigned pdbFile = kindBit(FileKind::PdbFile);
constexpr std::string_view debugLettersWhyNot =
    "debug table letters choose the debug information of images, objects, libraries and "
    "PDB files";
constexpr unsigned sectioned =
    kindBit(FileKind::PeImage) | kindBit(FileKind::CoffObject) | kindBit(FileKind::Archive);
constexpr std::string_view noSections = "it has no sections";
constexpr unsigned omfFile = kindBit(FileKind::OmfObject) | kindBit(FileKind::OmfLibrary);

// Every switch tdump knows. A switch with an argument is matched by its
// name as a prefix (the longest name wins); one without, by its whole name.
constexpr SwitchRow switchTable[] = {
    {"a", Switch::Ascii, Display::Ascii, anyKind, "ASCII file display", {}, nullptr},
    {"a7",
     Switch::Ascii7,
     Display::Ascii7,
     anyKind,
     "ASCII file display, high bit stripped",
     {},
     nullptr},
    {"b", Switch::Offset, Display::Offset, anyKind, "file display from an offset", {}, parseOffset},
    {"C", Switch::Coff, Display::Coff, sectioned | kindBit(FileKind::ImportObject),
     "COFF display: headers, sections, relocations, symbols",
     "it has no COFF headers (-o forces the attempt)", nullptr},
    {"d", Switch::Debug, Display::Debug, sectioned | pdbFile, "debug information",
     "it carries no debug information this tool knows", nullptr},
    {"e", Switch::Exe, Display::Executable, peImage | kindBit(FileKind::DosExecutable),
     "executable display", "it is not an executable", nullptr},
    {"ei", Switch::ExeTables, Display::Executable, peImage | kindBit(FileKind::DosExecutable),
     "executable display, one table", "it is not an executable", parseExeTable},
    {"ee", Switch::Exports, Display::Exports, peImage, "exports",
     "exports and imports belong to PE images", parseFilter<&Options::exportFilter>},
    {"em", Switch::Imports, Display::Imports, peImage, "imports (module or function)",
     "exports and imports belong to PE images", parseFilter<&Options::importFilter>},
    {"em.", Switch::ImportModules, Display::ImportModules, peImage, "imported modules",
     "exports and imports belong to PE images", parseFilter<&Options::moduleFilter>},
    {"ed", Switch::NoDebug, Display::Modifier, sectioned | pdbFile, "debug information left out",
     noSections, nullptr},
    {"el", Switch::NoLines, Display::Modifier, sectioned, "line numbers left out", noSections,
     nullptr},
    {"er", Switch::NoRelocs, Display::Modifier, sectioned, "relocations left out", noSections,
     nullptr},
    {"ex", Switch::NoNewExe, Display::Executable, peImage,
     "MS-DOS header only; the PE part left out", "it has no PE part to leave out", nullptr},
    {"h", Switch::Hex, Display::Hex, anyKind, "hexadecimal file display", {}, nullptr},
    {"i", Switch::DebugInclude, Display::Debug, sectioned | pdbFile,
     "debug information, only the tables ", debugLettersWhyNot,
     parseDebugLetters<&Options::debugInclude>},
    {"l", Switch::Library, Display::Library,
     kindBit(FileKind::Archive) | kindBit(FileKind::OmfLibrary),
     "library display: members and symbol index", "it is not an archive library", nullptr,
     &omfLibrary},
    {"li", Switch::Impdef, Display::Impdef,
     peImage | kindBit(FileKind::Archive) | kindBit(FileKind::ImportObject) | omfFile,
     "IMPDEF lines", "IMPDEF lines come from DLL exports or import libraries",
     parseFilter<&Options::impdefFilter>, &omfImpdef},
    {"m", Switch::RawNames, Display::Modifier, anyKind & ~kindBit(FileKind::Unknown),
     "names shown as stored, not demangled", "nothing in its display is affected", nullptr},
    {"o",
     Switch::Obj,
     Display::Coff,
     anyKind,
     "object display: COFF, or OMF records on a file that starts with one",
     {},
     nullptr,
     &omfRecords},
    {"oc", Switch::Checksum, Display::Checksum, sectioned | omfFile, "checksums verified",
     "it carries no checksum", nullptr, &omfChecksums},
    {"oi", Switch::SectionInclude, Display::Modifier, sectioned | omfFile,
     "only sections whose name starts with ", noSections,
     parseSectionName<&Options::sectionInclude>, &omfRecordInclude},
    {"ox", Switch::SectionExclude, Display::Modifier, sectioned | omfFile,
     "leaves out sections whose name starts with ", noSections,
     parseSectionName<&Options::sectionExclude>, &omfRecordExclude},
    {"x", Switch::DebugExclude, Display::Debug, sectioned | pdbFile,
     "debug information, without the tables ", debugLettersWhyNot,
     parseDebugLetters<&Options::debugExclude>},
    {"r", Switch::Raw, Display::Raw, sectioned | omfFile, "raw section contents", noSections,
     nullptr, &omfRaw},
    {"R", Switch::Relocs, Display::Relocations, sectioned, "relocation records", noSections,
     nullptr},
    {"v", Switch::Verbose, Display::Modifier, anyKind & ~kindBit(FileKind::Unknown),
     "verbose display", "nothing in its display is affected", nullptr},
    {"um",
     Switch::Unmangle,
     Display::Unmangle,
     anyKind,
     "each line of the input taken as a mangled name and demangled",
     {},
     nullptr},
};

const SwitchRow* findSwitch(std::string_view body)
{
    const SwitchRow* found = nullptr;
    for (const SwitchRow& row : switchTable) {
        const bool matches = row.parseArgument ? startsWith(body, row.name) : body == row.name;
        if (matches && (found == nullptr || row.name.size() > found->name.size())) {
            found = &row;
        }
    }
    return found;
}

} // namespace

std::optional<std::string_view> SwitchUse::whyNoEffect(FileKind kind) const
{
    if ((row->appliesTo & kindBit(kind)) != 0) {
        return std::nullopt;
    }
    return row->whyNot;
}

bool SwitchUse::readsAsOmf(FileKind kind) const
{
    return row->omf != nullptr && isOmf(kind);
}

Display SwitchUse::displayOn(FileKind kind) const
{
    return readsAsOmf(kind) ? row->omf->display : row->display;
}

std::string_view SwitchUse::meaningOn(FileKind kind) const
{
    return readsAsOmf(kind) ? std::string_view(omfMeaning) : std::string_view(meaning);
}

std::string_view SwitchUse::remarkOn(FileKind kind) const
{
    return readsAsOmf(kind) ? std::string_view(omfRemark) : std::string_view(remark);
}

bool Options::has(Switch which) const
{
    return std::any_of(switches.begin(), switches.end(),
                       [which](const SwitchUse& s) { return s.which() == which; });
}

bool Options::sectionSelected(std::string_view name) const
{
    const auto prefixOf = [name](const std::string& prefix) { return startsWith(name, prefix); };
    if (!sectionInclude.empty() &&
        std::none_of(sectionInclude.begin(), sectionInclude.end(), prefixOf)) {
        return false;
    }
    return std::none_of(sectionExclude.begin(), sectionExclude.end(), prefixOf);
}

std::string_view debugTableLetters()
{
    return "a=debug directory b=symbols c=lines d=file checksums e=string table "
           "f=inlinee lines g=other subsections h=types i=IDs j=precompiled types "
           "k=stream directory l=PDB information m=modules n=section contributions "
           "o=section map p=source files q=globals r=publics s=type stream headers "
           "t=debug header streams";
}

bool Options::debugTableSelected(DebugTable table) const
{
    const std::uint32_t bit = std::uint32_t{1} << static_cast<unsigned>(table);
    if (debugInclude != 0 && (debugInclude & bit) == 0) {
        return false;
    }
    return (debugExclude & bit) == 0;
}

ParseResult parseCommandLine(const std::vector<std::string>& arguments)
{
    ParseResult result;
    Options& options = result.options;
    std::vector<std::string> files;
    for (const std::string& argument : arguments) {
        if (argument.size() < 2 || argument[0] != '-') {
            files.push_back(argument);
            continue;
        }
        const std::string_view body = std::string_view(argument).substr(1);
        const SwitchRow* row = findSwitch(body);
        if (row == nullptr) {
            result.error = "unknown switch " + argument;
            return result;
        }
        SwitchUse use{argument, row, std::string(row->meaning), {}, {}, {}};
        if (row->parseArgument != nullptr) {
            row->parseArgument(body.substr(row->name.size()), options, use);
        }
        if (row->omf != nullptr) {
            use.omfMeaning = row->omf->meaning;
            if (row->omf->parseArgument != nullptr) {
                row->omf->parseArgument(body.substr(row->name.size()), options, use);
            }
        }
        options.switches.push_back(std::move(use));
    }
    if (files.empty()) {
        result.error = "no input file given";
    } else if (files.size() > 2) {
        result.error = "too many file names: " + files[2];
    } else {
        options.input = files[0];
        if (files.size() == 2) {
            options.listFile = files[1];
        }
    }
    return result;
}

std::string_view usageText()
{
    return "usage: tdump <switch>... <input file> [<list file>]\n"
           "  -a  -a7      ASCII file display (7-bit)\n"
           "  -h           hexadecimal file display      -b<n>  start at offset n (or 0x..)\n"
           "  -e           executable (PE) display       -ei<table>  one table:\n"
           "               HDR OBJ FIX NAM ENT RES TLS CFG EXC CRT OVL\n"
           "  -ee[=x]      exports                       -em[=x]  imports    -em.[x]  modules\n"
           "  -ed -el -er  leave out debug / line numbers / relocations\n"
           "  -ex          MS-DOS header only            -R     base relocations\n"
           "  -C  -o       COFF object display           -d     debug information\n"
           "  -i<a..t> -x<a..t>  only / without these debug tables (-i? lists them)\n"
           "  -oi<name> -ox<name>  only / without sections whose name starts so\n"
           "  -l           library members and index     -li[=x]  IMPDEF lines\n"
           "  -r           raw section contents          -oc    verify checksums\n"
           "  OMF objects and libraries (.OBJ, .LIB): the records by default (-o), a\n"
           "  library's modules and dictionary (-l); -oi<rec> -ox<rec> only / without\n"
           "  records of a type (-oi? lists them); -r their bytes; -oc record checksums\n"
           "  -v           verbose                       -m     names not demangled\n"
           "  -um          demangle each line of the input\n"
           "The listing goes to the list file, or to standard output.\n";
}

bool matchesFilter(std::string_view name, std::string_view filter)
{
    if (filter.empty()) {
        return true;
    }
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    const auto found = std::search(name.begin(), name.end(), filter.begin(), filter.end(),
                                   [&](char a, char b) { return lower(a) == lower(b); });
    return found != name.end();
}

} // namespace tdump
