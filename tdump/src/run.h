#pragma once

#include <string>
#include <vector>

#include "output.h"

namespace tdump {

// Exit statuses of the tool.
enum ExitStatus : int {
    exitOk = 0,
    exitFileError = 1, // input unreadable, list file unwritable or the same file as the input
    exitUsage = 2,     // the command line itself is wrong
};

// The whole program, minus the process: arguments without the program name;
// the listing goes to the list file or to standardOutput.
int runTool(const std::vector<std::string>& arguments, Sink& standardOutput, Sink& standardError);

} // namespace tdump
