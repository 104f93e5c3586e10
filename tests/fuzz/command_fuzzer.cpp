// Fuzzes the composition of the dump and viewer commands and the code page
// helpers. The input is split at NUL bytes into: a selector (a byte for the
// row and text-file flag, and one for the system's code page: 932, 1252 or
// one whose every high byte leads, as in 936), the interpreter path, the
// input file and the list file name.
//
// Invariants, in the system's code page:
// - a command is either refused with the program's Exception or at most 260
//   characters long;
// - expanded as the interpreter expands %NAME% in its command line (with
//   OS, CD and PATH defined) and split as the C runtime splits a command
//   line (double-byte aware), it yields the interpreter, "/C", "tdump", the
//   switch, the input file and, when on and not empty, the list file,
//   exactly; the viewer command, which no interpreter reads, is
//   "notepad.exe " and the list file as it stands;
// - no character that the command interpreter treats specially stands
//   outside quotes after the switch;
// - the status text has the path's length and differs only where a
//   single-byte a..z became A..Z.

#include "code_page.h"
#include "dump_option_catalogue.h"
#include "dump_state.h"
#include "exception.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace quellan;

[[noreturn]] void violated(const char* what)
{
    __builtin_printf("invariant violated: %s\n", what);
    std::abort();
}

// The C runtime's splitting of a command line into arguments (the rules of
// msvcrt and the UCRT), with a lead byte and its trail byte copied together.
std::vector<std::string> splitLikeTheRuntime(std::string_view line, const CodePage& system)
{
    std::vector<std::string> args;
    std::size_t i = 0;
    // The program name: up to a blank, or quoted, with no escapes.
    std::string program;
    bool quoted = false;
    for (; i < line.size(); ++i) {
        if (line[i] == '"') {
            quoted = !quoted;
        } else if (!quoted && (line[i] == ' ' || line[i] == '\t')) {
            break;
        } else {
            program += line[i];
        }
    }
    args.push_back(program);
    for (;;) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        if (i >= line.size()) {
            break;
        }
        std::string arg;
        bool inQuotes = false;
        while (i < line.size()) {
            const char c = line[i];
            if (!inQuotes && (c == ' ' || c == '\t')) {
                break;
            }
            if (c == '\\') {
                std::size_t count = 0;
                while (i < line.size() && line[i] == '\\') {
                    ++count;
                    ++i;
                }
                if (i < line.size() && line[i] == '"') {
                    arg.append(count / 2, '\\');
                    if (count % 2 == 1) {
                        arg += '"';
                        ++i;
                    }
                } else {
                    arg.append(count, '\\');
                }
                continue;
            }
            if (c == '"') {
                if (inQuotes && i + 1 < line.size() && line[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                    continue;
                }
                inQuotes = !inQuotes;
                ++i;
                continue;
            }
            const std::size_t length = system.characterLength(line, i);
            arg.append(line.substr(i, length));
            i += length;
        }
        args.push_back(arg);
    }
    return args;
}

// The interpreter's expansion of %NAME% in a command line, quotes or not:
// a defined name (case aside) becomes its value, "%NAME:~offset,length%" a
// part of it; "%%" keeps the first '%' and reads on from the second; an
// undefined name is kept and its closing '%' may open the next name (the
// stricter of the readings, so an escape must survive both).
std::string expandLikeTheInterpreter(std::string_view line)
{
    const auto value = [](std::string name) -> std::optional<std::string> {
        for (char& c : name) {
            c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
        }
        if (name == "OS") {
            return "Windows_NT";
        }
        if (name == "CD") {
            return "C:\\WORK";
        }
        if (name == "PATH") {
            return "C:\\windows\\system32;C:\\windows";
        }
        return std::nullopt;
    };
    std::string expanded;
    std::size_t i = 0;
    while (i < line.size()) {
        const std::size_t open = line.find('%', i);
        const std::size_t close = open == std::string_view::npos ? open : line.find('%', open + 1);
        if (close == std::string_view::npos) {
            expanded.append(line.substr(i));
            break;
        }
        expanded.append(line.substr(i, open - i));
        const std::string_view reference = line.substr(open + 1, close - open - 1);
        const std::size_t colon = reference.find(':');
        const std::optional<std::string> defined = value(std::string(reference.substr(0, colon)));
        if (reference.empty() || !defined) {
            expanded += '%';
            expanded.append(reference);
            i = close;
            continue;
        }
        std::string text = *defined;
        if (colon != std::string_view::npos && reference.substr(colon, 2) == ":~") {
            // ~[offset][,[length]]: empty numbers are 0; no comma, the rest.
            const std::string range(reference.substr(colon + 2));
            const std::size_t comma = range.find(',');
            const long offset = std::strtol(range.substr(0, comma).c_str(), nullptr, 10);
            const std::size_t from =
                offset < 0 ? text.size() - std::min<std::size_t>(text.size(),
                                                                 static_cast<std::size_t>(-offset))
                           : std::min<std::size_t>(text.size(), static_cast<std::size_t>(offset));
            text = text.substr(from);
            if (comma != std::string::npos) {
                const long length = std::strtol(range.substr(comma + 1).c_str(), nullptr, 10);
                text = length < 0
                           ? text.substr(0, text.size() -
                                                std::min<std::size_t>(
                                                    text.size(), static_cast<std::size_t>(-length)))
                           : text.substr(0, static_cast<std::size_t>(length));
            }
        }
        expanded += text;
        i = close + 1;
    }
    return expanded;
}

void checkSpecialsAreQuoted(std::string_view command, std::size_t from, const CodePage& system)
{
    bool inQuotes = false;
    for (std::size_t i = from; i < command.size(); i += system.characterLength(command, i)) {
        if (system.characterLength(command, i) == 2) {
            continue;
        }
        if (command[i] == '"') {
            inQuotes = !inQuotes;
        } else if (!inQuotes &&
                   std::string_view("&|<>^(),;=%!").find(command[i]) != std::string_view::npos) {
            violated("an interpreter special stands outside quotes");
        }
    }
}

void checkStatusText(const std::string& path, const std::string& status, const CodePage& system)
{
    if (status.size() != path.size()) {
        violated("status text length differs from the path");
    }
    for (std::size_t i = 0; i < path.size(); i += system.characterLength(path, i)) {
        const std::size_t length = system.characterLength(path, i);
        if (length == 2) {
            if (status.compare(i, 2, path, i, 2) != 0) {
                violated("a double-byte character changed in the status text");
            }
        } else if (status[i] != path[i] &&
                   !(path[i] >= 'a' && path[i] <= 'z' && status[i] == path[i] - 32)) {
            violated("the status text changed something other than a..z");
        }
    }
}

const CodePage& systemCodePage(unsigned selector)
{
    static const CodePage singleByte{CodePage::LeadBytes{}};
    static const CodePage allHighBytesLead = [] {
        CodePage::LeadBytes lead;
        for (unsigned byte = 0x81; byte <= 0xFE; ++byte) {
            lead[byte] = true;
        }
        return CodePage(lead);
    }();
    switch (selector % 3) {
    case 0:
        return CodePage::cp932();
    case 1:
        return singleByte;
    default:
        return allHighBytesLead;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> fields = CodePage::cp932().split(input, '\0');
    fields.resize(4);
    const unsigned selector = fields[0].empty() ? 0u : static_cast<unsigned char>(fields[0][0]);
    const CodePage& system =
        systemCodePage(fields[0].size() < 2 ? 0u : static_cast<unsigned char>(fields[0][1]));
    const int row = static_cast<int>(selector % 28) + 1;
    const bool makeTextFile = (selector & 0x80) != 0;
    // The interpreter path is composed as it stands; keep it one plain word.
    std::string interpreter = fields[1].empty() ? "cmd.exe" : fields[1];
    for (char& c : interpreter) {
        if (c == ' ' || c == '\t' || c == '"' || static_cast<unsigned char>(c) < 0x20) {
            c = 'x';
        }
    }
    const std::string& inputFile = fields[2];
    const std::string& listFile = fields[3];

    DumpState state(system);
    state.setListFileName(state.initialise("C:\\WORK"));
    state.selectSwitch(row);
    checkStatusText(inputFile, state.setInputFile(inputFile), system);
    state.setMakeTextFile(makeTextFile);
    state.setListFileName(listFile);

    // Splitting at "|" and joining again gives the text back.
    const std::vector<std::string> pieces = system.split(inputFile, '|');
    std::string joined;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        joined += i == 0 ? "" : "|";
        joined += pieces[i];
    }
    if (joined != inputFile) {
        violated("split and join do not give the text back");
    }

    std::string command;
    try {
        command = state.composeDumpCommand(interpreter);
    } catch (const Exception&) {
        return 0; // refused: a double quote, a control character, or too long
    }
    if (command.size() > MaxCommandLineLength) {
        violated("a command over 260 characters was composed");
    }
    std::vector<std::string> expected = {interpreter, "/C", "tdump",
                                         std::string(DumpOptionCatalogue::passedSwitch(row))};
    if (!inputFile.empty()) {
        expected.push_back(inputFile);
    }
    if (makeTextFile && !listFile.empty()) {
        expected.push_back(listFile);
    }
    // The interpreter reads what follows " /C ".
    const std::size_t afterC = interpreter.size() + 4;
    const std::string asRun =
        command.substr(0, afterC) + expandLikeTheInterpreter(command.substr(afterC));
    if (splitLikeTheRuntime(asRun, system) != expected) {
        violated("the command, as the interpreter runs it, does not give the expected arguments");
    }
    const std::size_t afterSwitch =
        interpreter.size() + 10 + DumpOptionCatalogue::passedSwitch(row).size();
    checkSpecialsAreQuoted(command, afterSwitch, system);

    if (const auto viewer = state.composeViewerCommand()) {
        if (*viewer != "notepad.exe " + listFile) {
            violated("the viewer command is not notepad.exe and the list file as it stands");
        }
    }
    return 0;
}
