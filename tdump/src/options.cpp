#include "options.h"

#include <algorithm>
#include <charconv>

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

// "-ee=name", "-eename": the text after the switch letters, '=' optional.
std::string filterArgument(std::string_view rest)
{
    if (startsWith(rest, "=")) {
        rest.remove_prefix(1);
    }
    return std::string(rest);
}

std::string filterMeaning(std::string_view what, std::string_view filter)
{
    std::string text(what);
    if (!filter.empty()) {
        text += " whose name contains " + quoted(filter);
    }
    return text;
}

void parseOffset(std::string_view argument, Options& options, SwitchUse& use)
{
    use.which = Switch::Offset;
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
    use.which = Switch::ExeTables;
    static constexpr std::pair<std::string_view, ExeTable> names[] = {{"HDR", tableHeaders},
                                                                      {"OBJ", tableSections},
                                                                      {"FIX", tableFixups},
                                                                      {"NAM", tableImports},
                                                                      {"ENT", tableExports}};
    static constexpr std::string_view choices =
        "HDR (headers), OBJ (sections), FIX (base relocations), "
        "NAM (imports), ENT (exports)";
    if (isPlaceholder(argument) || argument == "?") {
        use.meaning = "executable display, every table";
        use.remark = "-ei needs a table name: " + std::string(choices);
        return;
    }
    std::string upper(argument);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
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

// -i and -x: letters a..t stand for debug directory entry types 0..19.
void parseDebugLetters(std::string_view argument, std::uint32_t& mask, SwitchUse& use,
                       std::string_view verb)
{
    static constexpr std::string_view letters =
        "a=unknown b=COFF c=CodeView d=FPO e=misc f=exception g=fixup "
        "h=OMAP-to-source i=OMAP-from-source j=Borland k=reserved "
        "l=CLSID m=VC-feature n=POGO o=ILTCG p=MPX q=repro "
        "r=embedded-PDB s=SPGO t=PDB-hash";
    if (isPlaceholder(argument) || argument == "?") {
        use.meaning = "debug directory, every entry type";
        use.remark = use.text.substr(0, 2) + " needs debug table letters: " + std::string(letters);
        return;
    }
    std::string unknown;
    for (const char c : argument) {
        if (c >= 'a' && c < 'a' + debugTypeLetters) {
            mask |= std::uint32_t{1} << (c - 'a');
        } else {
            unknown += c;
        }
    }
    use.meaning = "debug directory, " + std::string(verb) + " entry types " + quoted(argument);
    if (!unknown.empty()) {
        use.remark = "letters " + quoted(unknown) + " name no debug table; the letters are " +
                     std::string(letters);
    }
}

void parseSectionName(std::string_view argument, std::vector<std::string>& names, SwitchUse& use,
                      std::string_view verb)
{
    if (isPlaceholder(argument) || argument == "?") {
        use.meaning = "every section listed";
        use.remark = use.text.substr(0, 3) +
                     " needs a section name or the start of one, e.g. .text or .debug; "
                     "the section table shows the names";
        return;
    }
    names.emplace_back(argument);
    use.meaning = std::string(verb) + " sections whose name starts with " + quoted(argument);
}

// Fills use (and options) for one switch; false for an unknown switch.
bool parseSwitch(std::string_view body, Options& options, SwitchUse& use)
{
    struct Plain {
        std::string_view name;
        Switch which;
        std::string_view meaning;
    };
    static constexpr Plain plain[] = {
        {"a", Switch::Ascii, "ASCII file display"},
        {"a7", Switch::Ascii7, "ASCII file display, high bit stripped"},
        {"C", Switch::Coff, "COFF display: headers, sections, relocations, symbols"},
        {"d", Switch::Debug, "debug information"},
        {"e", Switch::Exe, "executable display"},
        {"ed", Switch::NoDebug, "debug information left out"},
        {"el", Switch::NoLines, "line numbers left out"},
        {"er", Switch::NoRelocs, "relocations left out"},
        {"ex", Switch::NoNewExe, "MS-DOS header only; the PE part left out"},
        {"h", Switch::Hex, "hexadecimal file display"},
        {"l", Switch::Library, "library display: members and symbol index"},
        {"m", Switch::RawNames, "names shown as stored, not demangled"},
        {"o", Switch::Obj, "COFF object display"},
        {"oc", Switch::Checksum, "checksums verified"},
        {"r", Switch::Raw, "raw section contents"},
        {"R", Switch::Relocs, "relocation records"},
        {"v", Switch::Verbose, "verbose display"},
        {"um", Switch::Unmangle, "each line of the input taken as a mangled name and demangled"},
    };
    for (const Plain& p : plain) {
        if (body == p.name) {
            use.which = p.which;
            use.meaning = p.meaning;
            return true;
        }
    }
    if (startsWith(body, "b")) {
        parseOffset(body.substr(1), options, use);
    } else if (startsWith(body, "ei")) {
        parseExeTable(body.substr(2), options, use);
    } else if (startsWith(body, "ee")) {
        use.which = Switch::Exports;
        options.exportFilter = filterArgument(body.substr(2));
        use.meaning = filterMeaning("exports", options.exportFilter);
    } else if (startsWith(body, "em.")) {
        use.which = Switch::ImportModules;
        options.moduleFilter = filterArgument(body.substr(3));
        use.meaning = filterMeaning("imported modules", options.moduleFilter);
    } else if (startsWith(body, "em")) {
        use.which = Switch::Imports;
        options.importFilter = filterArgument(body.substr(2));
        use.meaning = filterMeaning("imports (module or function)", options.importFilter);
    } else if (startsWith(body, "li")) {
        use.which = Switch::Impdef;
        options.impdefFilter = filterArgument(body.substr(2));
        use.meaning = filterMeaning("IMPDEF lines", options.impdefFilter);
    } else if (startsWith(body, "oi")) {
        use.which = Switch::SectionInclude;
        parseSectionName(body.substr(2), options.sectionInclude, use, "only");
    } else if (startsWith(body, "ox")) {
        use.which = Switch::SectionExclude;
        parseSectionName(body.substr(2), options.sectionExclude, use, "leaves out");
    } else if (startsWith(body, "i")) {
        use.which = Switch::DebugInclude;
        parseDebugLetters(body.substr(1), options.debugInclude, use, "only");
    } else if (startsWith(body, "x")) {
        use.which = Switch::DebugExclude;
        parseDebugLetters(body.substr(1), options.debugExclude, use, "without");
    } else {
        return false;
    }
    return true;
}

} // namespace

bool Options::has(Switch which) const
{
    return std::any_of(switches.begin(), switches.end(),
                       [which](const SwitchUse& s) { return s.which == which; });
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

bool Options::debugTypeSelected(std::uint32_t type) const
{
    const std::uint32_t bit = type < debugTypeLetters ? std::uint32_t{1} << type : 0;
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
        SwitchUse use{argument, Switch::Hex, {}, {}};
        if (!parseSwitch(std::string_view(argument).substr(1), options, use)) {
            result.error = "unknown switch " + argument;
            return result;
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
           "  -e           executable (PE) display       -ei<HDR|OBJ|FIX|NAM|ENT>  one table\n"
           "  -ee[=x]      exports                       -em[=x]  imports    -em.[x]  modules\n"
           "  -ed -el -er  leave out debug / line numbers / relocations\n"
           "  -ex          MS-DOS header only            -R     base relocations\n"
           "  -C  -o       COFF object display           -d     debug information\n"
           "  -i<a..t> -x<a..t>  only / without these debug directory entry types\n"
           "  -oi<name> -ox<name>  only / without sections whose name starts so\n"
           "  -l           library members and index     -li[=x]  IMPDEF lines\n"
           "  -r           raw section contents          -oc    verify checksums\n"
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
