// Lists many files in one process, for tools/compare-listings.py: each line
// of standard input is one tdump command line (its arguments separated by
// tabs); each line of output is the exit status, the size and a hash of the
// listing, and a hash of the listing without its damage reports (the lines
// that start with "** " after their indent). Starting a process per listing
// costs more than most listings, and the comparison makes hundreds of
// thousands of them. With --print and a command line, it lists as tdump
// does, to standard output.

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "run.h"

namespace {

// FNV-1a.
void add(std::uint64_t& hash, std::string_view data)
{
    for (const char c : data) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
}

class HashSink final : public tdump::Sink {
public:
    void write(std::string_view data) override
    {
        add(hash, data);
        size += data.size();
        for (const char c : data) {
            line_ += c;
            if (c == '\n') {
                endLine();
            }
        }
    }

    // The hash without the reports, once the listing is whole.
    std::uint64_t withoutReports()
    {
        endLine();
        return withoutReports_;
    }

    std::uint64_t hash = 14695981039346656037ULL;
    std::uint64_t size = 0;

private:
    void endLine()
    {
        const std::size_t text = line_.find_first_not_of(' ');
        if (text == std::string::npos || line_.compare(text, 3, "** ") != 0) {
            add(withoutReports_, line_);
        }
        line_.clear();
    }

    std::string line_;
    std::uint64_t withoutReports_ = 14695981039346656037ULL;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string_view(argv[1]) == "--print") {
        tdump::FileSink out(stdout);
        tdump::FileSink error(stderr);
        const int status = tdump::runTool({argv + 2, argv + argc}, out, error);
        return out.finish() ? status : tdump::exitFileError;
    }
    std::string line;
    while (std::getline(std::cin, line)) {
        std::vector<std::string> arguments;
        for (std::size_t start = 0;;) {
            const std::size_t tab = line.find('\t', start);
            arguments.push_back(line.substr(start, tab - start));
            if (tab == std::string::npos) {
                break;
            }
            start = tab + 1;
        }
        HashSink out;
        HashSink error;
        const int status = tdump::runTool(arguments, out, error);
        std::cout << status << ' ' << out.size << ' ' << std::hex << out.hash << ' '
                  << out.withoutReports() << std::dec << std::endl;
    }
    return 0;
}
