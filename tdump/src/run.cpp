#include "run.h"

#include <cerrno>
#include <cstring>

#include "bytes.h"
#include "dump.h"
#include "file_identity.h"
#include "options.h"

namespace tdump {
namespace {

// Writes a failure to standard error and, when it can be written, to the
// list file too, so whoever opens the listing sees why it is short.
int fail(Sink& standardError, std::FILE* listFile, const std::string& message)
{
    const std::string line = "tdump: " + message + "\n";
    standardError.write(line);
    if (listFile != nullptr) {
        std::fwrite(line.data(), 1, line.size(), listFile);
    }
    return exitFileError;
}

} // namespace

int runTool(const std::vector<std::string>& arguments, Sink& standardOutput, Sink& standardError)
{
    if (arguments.empty()) {
        standardOutput.write(usageText());
        return exitUsage;
    }
    const ParseResult parsed = parseCommandLine(arguments);
    if (!parsed.error.empty()) {
        standardError.write("tdump: " + parsed.error + "\n");
        standardError.write(usageText());
        return exitUsage;
    }
    const Options& options = parsed.options;
    // Checked before anything is opened for writing: the list file is
    // truncated when opened.
    if (options.listFile && sameFile(options.input, *options.listFile)) {
        return fail(standardError, nullptr,
                    "the list file \"" + *options.listFile +
                        "\" is the input file itself; it is not overwritten");
    }
    FilePtr listFile;
    if (options.listFile) {
        // Text mode: on Windows the listing gets CR LF line ends, as Notepad wants.
        listFile.reset(std::fopen(options.listFile->c_str(), "w"));
        if (!listFile) {
            return fail(standardError, nullptr,
                        "cannot write the list file \"" + *options.listFile +
                            "\": " + std::strerror(errno));
        }
    }
    std::string error;
    const auto input = FileSource::open(options.input, error);
    if (!input) {
        fail(standardError, listFile.get(),
             "cannot read the input file \"" + options.input + "\": " + error);
        return exitFileError;
    }
    Reader reader(*input);
    WorkBudget budget(listingWorkLimit(reader.size()));
    if (listFile) {
        FileSink sink(listFile.get());
        {
            Output out(sink, budget);
            dumpFile(options, options.input, reader, out);
        }
        const bool written = sink.finish();
        const bool closed = std::fclose(listFile.release()) == 0;
        if (!written || !closed) {
            return fail(standardError, nullptr,
                        "writing the list file \"" + *options.listFile + "\" failed");
        }
        return exitOk;
    }
    Output out(standardOutput, budget);
    dumpFile(options, options.input, reader, out);
    return exitOk;
}

} // namespace tdump
