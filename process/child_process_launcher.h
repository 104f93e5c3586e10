#pragma once

#include <string>

namespace quellan {

// Starts the two kinds of child the program uses: the command interpreter,
// waited for until it ends, and the viewer, left to run. Keeps no state.
class ChildProcessLauncher {
public:
    // The value of Comspec. Throws Exception when it is unset, empty or
    // longer than 260 characters.
    static std::string interpreterPath();

    // Starts commandLine and returns once the child has ended. Throws
    // EWin32Error when it cannot be started.
    static void runAndWait(const std::string& commandLine);

    // Starts commandLine shown normally and returns at once. Throws
    // Exception("失敗です。") when it cannot be started.
    static void startDetached(const std::string& commandLine);
};

} // namespace quellan
