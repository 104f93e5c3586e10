// A minimal host for the launcher: "launch_host wait|detach" runs the
// command line in QUELLAN_HOST_COMMAND the way Quellan's handlers do, so a
// test can start it with a chosen show state and working directory.

#include "child_process_launcher.h"

#include <windows.h>

#include <cstring>
#include <exception>

int main(int argc, char** argv)
{
    char command[1024];
    const DWORD length = GetEnvironmentVariableA("QUELLAN_HOST_COMMAND", command, sizeof command);
    if (argc != 2 || length == 0 || length >= sizeof command) {
        return 2;
    }
    try {
        if (std::strcmp(argv[1], "wait") == 0) {
            quellan::ChildProcessLauncher::runAndWait(command);
        } else {
            quellan::ChildProcessLauncher::startDetached(command);
        }
    } catch (const std::exception&) {
        return 1;
    }
    return 0;
}
