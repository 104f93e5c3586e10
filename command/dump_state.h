#pragma once

// Everything a dump depends on, and the two command lines composed from it.
// Knows nothing of windows or processes.

#include "code_page.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quellan {

// Appended to the start directory as it stands, even at a drive's root.
inline constexpr std::string_view DefaultListFileName = "\\Temp.txt";

// The dump command is handed over in a buffer of 260 characters plus the
// terminator; a longer line is refused, never cut short.
inline constexpr std::size_t MaxCommandLineLength = 260;

struct DumpState {
    // File names are held in code page 932 unless the system's code page is
    // given.
    DumpState() = default;
    explicit DumpState(const CodePage& names) : names_(names) {}

    std::string inputFile;      // as the open-file dialog returned it
    std::string currentSwitch;  // the chosen catalogue row's passed switch
    bool makeTextFile = false;  // listing written to listFileName and viewed
    std::string listFileName;   // always the text of the list file edit box
    std::string startDirectory; // working directory at initialisation

    // Sets the defaults and returns the proposed list file name, which the
    // window writes into its edit box (and so back into listFileName).
    std::string initialise(std::string workingDirectory);

    void selectSwitch(int row);

    // Stores path as chosen and returns the text for the status bar.
    std::string setInputFile(std::string path);

    // When on, returns the proposed list file name for the edit box.
    std::optional<std::string> setMakeTextFile(bool on);

    void setListFileName(std::string text);

    // interpreter " /C tdump " switch " " input [" " list file], the names
    // written as interpreterArgument writes them. Throws Exception when a
    // name holds a double quote or the line exceeds MaxCommandLineLength.
    std::string composeDumpCommand(std::string_view interpreterPath) const;

    // "notepad.exe " and the list file name as it stands; nothing when
    // makeTextFile is off.
    std::optional<std::string> composeViewerCommand() const;

private:
    std::string proposedListFileName() const;

    CodePage names_ = CodePage::cp932();
};

// Throws Exception when command exceeds MaxCommandLineLength.
void requireCommandLineLength(std::string_view command);

// A file name in the code page names as one argument of a command line:
// quoted when any of its bytes is a blank, a tab or a character that the
// command interpreter treats specially.
std::string commandArgument(std::string_view name, const CodePage& names);

// A file name as one argument of a line that the command interpreter reads:
// as commandArgument, with every '%' written so that the interpreter's
// variable expansion gives back the '%' itself.
std::string interpreterArgument(std::string_view name, const CodePage& names);

} // namespace quellan
