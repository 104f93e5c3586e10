#include "dump_state.h"

#include "dump_option_catalogue.h"
#include "exception.h"

namespace quellan {
namespace {

// Blanks split arguments; the rest make cmd.exe run, redirect or pipe
// something else when they stand outside quotes.
constexpr std::string_view charactersNeedingQuotes = " \t&|<>^(),;=%!";

// cmd.exe expands %NAME% in its command line inside quotes too, and "%%" is
// no escape there. "%%cd:~,%" gives back one '%': the first '%' has no name
// before the next one and stays as it is, and "%cd:~,%" is the empty
// substring of the current directory, a variable that is always defined.
// (Delayed expansion of !NAME! is off unless the user turns it on for every
// interpreter; no escape of '!' works both with and without it.)
constexpr std::string_view interpreterPercent = "%%cd:~,%";

} // namespace

std::string commandArgument(std::string_view name, const CodePage& names)
{
    // No file name holds a control character, and a line break would end
    // the interpreter's command early: such a name is refused, not passed.
    // (A tab, which splits arguments, is quoted like a blank.)
    for (const char byte : name) {
        if (static_cast<unsigned char>(byte) < 0x20 && byte != '\t') {
            throw Exception("ファイル名に制御文字は使えません : " + std::string(name));
        }
    }
    // The bytes below are looked for one by one, never as parts of
    // characters: whether a byte before them leads a double-byte character
    // depends on the code page, and a name quoted that needed no quotes
    // reaches the dump tool all the same. A double quote is never the
    // second byte of a character in any code page.
    if (name.find('"') != std::string_view::npos) {
        // No quoting can carry a double quote through cmd.exe and the C
        // runtime's argument splitting intact.
        throw Exception("ファイル名に二重引用符 (\") は使えません : " + std::string(name));
    }
    if (name.find_first_of(charactersNeedingQuotes) == std::string_view::npos) {
        return std::string(name);
    }
    // Inside quotes the C runtime reads backslashes before the closing quote
    // as escapes, so trailing ones are doubled. Only real backslashes count:
    // a trail byte 0x5C belongs to its double-byte character, as the C
    // runtime reads it in the same code page.
    std::size_t trailingBackslashes = 0;
    for (std::size_t i = 0; i < name.size(); i += names.characterLength(name, i)) {
        const bool backslash = name[i] == '\\';
        trailingBackslashes = backslash ? trailingBackslashes + 1 : 0;
    }
    std::string quoted = "\"";
    quoted += name;
    quoted.append(trailingBackslashes, '\\');
    quoted += '"';
    return quoted;
}

std::string interpreterArgument(std::string_view name, const CodePage& names)
{
    // '%' is never the second byte of a character, so every one is replaced.
    std::string escaped;
    for (const char byte : commandArgument(name, names)) {
        if (byte == '%') {
            escaped += interpreterPercent;
        } else {
            escaped += byte;
        }
    }
    return escaped;
}

void requireCommandLineLength(std::string_view command)
{
    if (command.size() > MaxCommandLineLength) {
        throw Exception("コマンドラインが長すぎます (" + std::to_string(command.size()) +
                        " 文字)。実行できるのは " + std::to_string(MaxCommandLineLength) +
                        " 文字までです。");
    }
}

std::string DumpState::initialise(std::string workingDirectory)
{
    currentSwitch = DumpOptionCatalogue::defaultSwitch();
    makeTextFile = true;
    startDirectory = std::move(workingDirectory);
    return proposedListFileName();
}

void DumpState::selectSwitch(int row)
{
    currentSwitch = DumpOptionCatalogue::passedSwitch(row);
}

std::string DumpState::setInputFile(std::string path)
{
    inputFile = std::move(path);
    return names_.upperCaseSingleByte(inputFile);
}

std::optional<std::string> DumpState::setMakeTextFile(bool on)
{
    makeTextFile = on;
    if (!on) {
        return std::nullopt;
    }
    return proposedListFileName();
}

void DumpState::setListFileName(std::string text)
{
    listFileName = std::move(text);
}

std::string DumpState::composeDumpCommand(std::string_view interpreterPath) const
{
    std::string command(interpreterPath);
    command += " /C tdump ";
    command += currentSwitch;
    command += ' ';
    command += interpreterArgument(inputFile, names_);
    if (makeTextFile) {
        command += ' ';
        command += interpreterArgument(listFileName, names_);
    }
    requireCommandLineLength(command);
    return command;
}

std::optional<std::string> DumpState::composeViewerCommand() const
{
    if (!makeTextFile) {
        return std::nullopt;
    }
    // No interpreter reads this line, and the viewer takes all of it after
    // its own name as the file's name, blanks included.
    return "notepad.exe " + listFileName;
}

std::string DumpState::proposedListFileName() const
{
    return startDirectory + std::string(DefaultListFileName);
}

} // namespace quellan
