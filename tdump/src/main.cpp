#include <cstdio>
#include <string>
#include <vector>

#include "run.h"

int main(int argc, char** argv)
{
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    tdump::FileSink standardOutput(stdout);
    tdump::FileSink standardError(stderr);
    const int status = tdump::runTool(arguments, standardOutput, standardError);
    if (!standardOutput.finish() || std::fflush(stdout) != 0) {
        std::fputs("tdump: writing the listing to standard output failed\n", stderr);
        return tdump::exitFileError;
    }
    return status;
}
