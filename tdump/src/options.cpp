#include "options.h"

#include <algorithm>
#include <charconv>

#include "omf/record_types.h"
#include "text.h"

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

// The same filter, as the switch reads on record files (parseFilter has set it).
template <std::string Options::*filter>
void parseRecordsFilter(std::string_view, Options& options, SwitchUse& use)
{
    use.recordsMeaning = filterMeaning(use.row->records->meaning, options.*filter);
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

// The tables -ei names, in the order the executable display lists them.
struct ExeTableName {
    std::string_view name;
    ExeTable table;
    std::string_view what;
};
constexpr ExeTableName exeTableNames[] = {
    {"HDR", tableHeaders, "headers"},
    {"OBJ", tableSections, "sections"},
    {"FIX", tableFixups, "base relocations"},
    {"NAM", tableImports, "imports"},
    {"ENT", tableExports, "exports"},
    {"RES", tableResources, "resources"},
    {"TLS", tableTls, "thread-local storage"},
    {"CFG", tableLoadConfig, "load configuration"},
    {"EXC", tableExceptions, "exception table"},
    {"CRT", tableCertificates, "certificates"},
    {"OVL", tableOverlay, "overlay"},
};

// "HDR (headers), OBJ (sections), ...", or with names only "HDR OBJ ...".
std::string exeTableChoices(bool withWhat)
{
    std::string text;
    for (const ExeTableName& table : exeTableNames) {
        if (!text.empty()) {
            text += withWhat ? ", " : " ";
        }
        text += table.name;
        if (withWhat) {
            text += " (" + std::string(table.what) + ")";
        }
    }
    return text;
}

void parseExeTable(std::string_view argument, Options& options, SwitchUse& use)
{
    if (isPlaceholder(argument) || argument == "?") {
        use.meaning = "executable display, every table";
        use.remark = "-ei needs a table name: " + exeTableChoices(true);
        return;
    }
    const std::string upper = upperCase(argument);
    for (const ExeTableName& table : exeTableNames) {
        if (upper == table.name) {
            options.exeTables |= table.table;
            use.meaning = "executable display, table " + std::string(table.name) + " only";
            return;
        }
    }
    use.meaning = "executable display, every table";
    use.remark = "unknown table " + quoted(argument) + "; the tables are " + exeTableChoices(true);
}

// What the letters a..t of -i and -x name, in the order of DebugTable.
constexpr std::string_view debugTableNames[] = {"debug directory",
                                                "symbols",
                                                "lines",
                                                "file checksums",
                                                "string table",
                                                "inlinee lines",
                                                "other subsections",
                                                "types",
                                                "IDs",
                                                "precompiled types",
                                                "stream directory",
                                                "PDB information",
                                                "modules",
                                                "section contributions",
                                                "section map",
                                                "source files",
                                                "globals",
                                                "publics",
                                                "type stream headers",
                                                "debug header streams",
                                                "address ranges",
                                                "range lists",
                                                "location lists",
                                                "call frames"};
static_assert(std::size(debugTableNames) == debugTableCount);

// -i and -x: the letters a..t name the debug tables.
template <std::vector<DebugTable> Choice<DebugTable>::*tables>
void parseDebugLetters(std::string_view argument, Options& options, SwitchUse& use)
{
    const std::string letters = debugTableLetters();
    if (isPlaceholder(argument) || argument == "?") {
        use.meaning = "debug information, every table";
        use.remark = switchText(use) + " needs debug table letters: " + letters;
        return;
    }
    std::string unknown;
    for (const char c : argument) {
        if (c >= 'a' && c < static_cast<char>('a' + debugTableCount)) {
            (options.debugTables.*tables).push_back(static_cast<DebugTable>(c - 'a'));
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
template <std::vector<std::string> Choice<std::string>::*names>
void parseSectionName(std::string_view argument, Options& options, SwitchUse& use)
{
    if (isPlaceholder(argument) || argument == "?") {
        use.meaning = "every section listed";
        use.remark = switchText(use) +
                     " needs a section name or the start of one, e.g. .text or .debug; "
                     "the section table shows the names";
        return;
    }
    (options.sections.*names).emplace_back(argument);
    use.meaning = std::string(use.row->meaning) + quoted(argument);
}

// -oi and -ox on OMF files: records of the named type. A name without "32"
// takes in both forms of a record (PUBDEF: 90 and 91), one with it only the
// 32-bit form (PUBDEF32: 91).
template <std::vector<std::string> Choice<std::string>::*names>
void parseRecordName(std::string_view argument, Options& options, SwitchUse& use)
{
    const std::string list = "the record names are " + omfRecordNames();
    if (isPlaceholder(argument) || argument == "?") {
        use.recordsMeaning = "every record listed";
        use.recordsRemark = switchText(use) + " needs a record name, e.g. PUBDEF; " + list;
        return;
    }
    const std::string upper = upperCase(argument);
    if (!isOmfRecordName(upper)) {
        use.recordsMeaning = "every record listed";
        use.recordsRemark = "unknown record name " + quoted(argument) + "; " + list;
        return;
    }
    (options.records.*names).push_back(upper);
    use.recordsMeaning = std::string(use.row->records->meaning) + upper;
}

constexpr RecordsReading recordsLibrary{
    "library display: header, modules and their public names, dictionary checked against the "
    "modules",
    nullptr};
constexpr RecordsReading recordsImpdef{"IMPDEF lines of the import definition records",
                                       parseRecordsFilter<&Options::impdefFilter>};
constexpr RecordsReading recordsObject{"OMF record display", nullptr};
constexpr RecordsReading recordsChecksums{"record checksums verified", nullptr};
constexpr RecordsReading recordsInclude{"only records of type ",
                                        parseRecordName<&Choice<std::string>::only>};
constexpr RecordsReading recordsExclude{"leaves out records of type ",
                                        parseRecordName<&Choice<std::string>::without>};
constexpr RecordsReading recordsRaw{"raw bytes of the records", nullptr};

// Every switch tdump knows. A switch with an argument is matched by its
// name as a prefix (the longest name wins); one without, by its whole name.
constexpr SwitchRow switchTable[] = {
    {"a", "", Switch::Ascii, Display::Ascii, "ASCII file display", nullptr},
    {"a7", "", Switch::Ascii7, Display::Ascii7, "ASCII file display, high bit stripped", nullptr},
    {"b", "<n>", Switch::Offset, Display::Offset, "file display from an offset", parseOffset},
    {"C", "", Switch::Coff, Display::Coff, "COFF display: headers, sections, relocations, symbols",
     nullptr},
    {"d", "", Switch::Debug, Display::Debug, "debug information", nullptr},
    {"e", "", Switch::Exe, Display::Executable, "executable display", nullptr},
    {"ei", "<table>", Switch::ExeTables, Display::Executable, "executable display, one table",
     parseExeTable},
    {"ee", "[=x]", Switch::Exports, Display::Exports, "exports",
     parseFilter<&Options::exportFilter>},
    {"em", "[=x]", Switch::Imports, Display::Imports, "imports (module or function)",
     parseFilter<&Options::importFilter>},
    {"em.", "[x]", Switch::ImportModules, Display::ImportModules, "imported modules",
     parseFilter<&Options::moduleFilter>},
    {"ed", "", Switch::NoDebug, Display::LeaveOutDebug, "debug information left out", nullptr},
    {"el", "", Switch::NoLines, Display::LeaveOutLines, "line numbers left out", nullptr},
    {"er", "", Switch::NoRelocs, Display::LeaveOutRelocations, "relocations left out", nullptr},
    {"ex", "", Switch::NoNewExe, Display::DosHeaderOnly,
     "MS-DOS part only; PE, NE or LE part left out", nullptr},
    {"h", "", Switch::Hex, Display::Hex, "hexadecimal file display", nullptr},
    {"i", "<a..t>", Switch::DebugInclude, Display::DebugTables,
     "debug information, only the tables ", parseDebugLetters<&Choice<DebugTable>::only>},
    {"l", "", Switch::Library, Display::Library, "library display: members and symbol index",
     nullptr, &recordsLibrary},
    {"li", "[=x]", Switch::Impdef, Display::Impdef, "IMPDEF lines",
     parseFilter<&Options::impdefFilter>, &recordsImpdef},
    {"m", "", Switch::RawNames, Display::StoredNames, "names shown as stored, not demangled",
     nullptr},
    {"o", "", Switch::Obj, Display::Object,
     "object display: COFF, or OMF records on a file that starts with one", nullptr,
     &recordsObject},
    {"oc", "", Switch::Checksum, Display::Checksum, "checksums verified", nullptr,
     &recordsChecksums},
    {"oi", "<name>", Switch::SectionInclude, Display::NameChoice,
     "only sections whose name starts with ", parseSectionName<&Choice<std::string>::only>,
     &recordsInclude},
    {"ox", "<name>", Switch::SectionExclude, Display::NameChoice,
     "leaves out sections whose name starts with ", parseSectionName<&Choice<std::string>::without>,
     &recordsExclude},
    {"x", "<a..t>", Switch::DebugExclude, Display::DebugTables,
     "debug information, without the tables ", parseDebugLetters<&Choice<DebugTable>::without>},
    {"r", "", Switch::Raw, Display::Raw, "raw section contents", nullptr, &recordsRaw},
    {"R", "", Switch::Relocs, Display::Relocations, "relocation records", nullptr},
    {"v", "", Switch::Verbose, Display::Verbose, "verbose display", nullptr},
    {"um", "", Switch::Unmangle, Display::Unmangle,
     "each line of the input taken as a mangled name and demangled", nullptr},
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

std::string_view SwitchUse::meaningIn(Reading reading) const
{
    return reading == Reading::Records && row->records != nullptr ? std::string_view(recordsMeaning)
                                                                  : std::string_view(meaning);
}

std::string_view SwitchUse::remarkIn(Reading reading) const
{
    return reading == Reading::Records && row->records != nullptr ? std::string_view(recordsRemark)
                                                                  : std::string_view(remark);
}

bool Options::has(Switch which) const
{
    return std::any_of(switches.begin(), switches.end(),
                       [which](const SwitchUse& s) { return s.which() == which; });
}

bool Options::sectionSelected(std::string_view name) const
{
    return sections.chooses([name](const std::string& prefix) { return startsWith(name, prefix); });
}

std::string debugTableLetters()
{
    std::string text;
    char letter = 'a';
    for (const std::string_view name : debugTableNames) {
        if (!text.empty()) {
            text += ' ';
        }
        text += letter++;
        text += '=';
        text += name;
    }
    return text;
}

bool Options::debugTableSelected(DebugTable table) const
{
    return debugTables.chooses([table](DebugTable named) { return named == table; });
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
        if (row->records != nullptr) {
            use.recordsMeaning = row->records->meaning;
            if (row->records->parseArgument != nullptr) {
                row->records->parseArgument(body.substr(row->name.size()), options, use);
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

namespace {

// Text in lines of at most 79 characters, each after indent, broken at blanks.
std::string wrapped(std::string_view text, std::string_view indent)
{
    constexpr std::size_t width = 79;
    std::string result;
    std::string line(indent);
    while (!text.empty()) {
        const std::size_t blank = text.find(' ');
        const std::string_view word = text.substr(0, blank);
        if (line.size() > indent.size() && line.size() + 1 + word.size() > width) {
            result += line + '\n';
            line = indent;
        }
        if (line.size() > indent.size()) {
            line += ' ';
        }
        line += word;
        text.remove_prefix(blank == std::string_view::npos ? text.size() : blank + 1);
    }
    return result + line + '\n';
}

// One line per switch, from the switch table: its form and what it does,
// and on record files, where that differs.
std::string makeUsageText()
{
    constexpr std::size_t formWidth = 12;
    std::string text = "usage: tdump <switch>... <input file> [<list file>]\n";
    const auto add = [&](std::string_view form, const std::string& meaning) {
        std::string lines = wrapped(meaning, std::string(2 + formWidth, ' '));
        lines.replace(2, form.size(), form);
        text += lines;
    };
    // A meaning that ends in a blank ends in the argument.
    const auto meaning = [](std::string_view said, std::string_view argument) {
        return std::string(said) + (said.ends_with(' ') ? std::string(argument) : "");
    };
    for (const SwitchRow& row : switchTable) {
        // Appended a piece at a time: MinGW-w64 g++ 12 -O3 warns (-Wrestrict)
        // on "-" + std::string here.
        std::string form(1, '-');
        form += row.name;
        form += row.argument;
        add(form, meaning(row.meaning, row.argument));
        if (row.records != nullptr) {
            add("", "on OMF files: " + meaning(row.records->meaning, row.argument));
        }
    }
    text += "  -ei tables:\n" + wrapped(exeTableChoices(true), "    ");
    text += "  -i and -x debug tables:\n" + wrapped(debugTableLetters(), "    ");
    text += "  -oi and -ox on OMF files:\n" +
            wrapped("the record names are " + omfRecordNames(), "    ");
    text += "The listing goes to the list file, or to standard output.\n";
    return text;
}

} // namespace

std::string_view usageText()
{
    static const std::string text = makeUsageText();
    return text;
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
