// Any input, as a file to dump with every listing switch: no crash, no
// sanitizer report, no run-away time or memory, whatever the bytes.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "bytes.h"
#include "dump.h"
#include "options.h"
#include "output.h"

namespace {

// Counts the listing instead of keeping it.
class NullSink final : public tdump::Sink {
public:
    void write(std::string_view data) override { size += data.size(); }
    std::size_t size = 0;
};

const std::vector<tdump::Options>& switchSets()
{
    static const std::vector<tdump::Options> sets = [] {
        const std::vector<std::vector<std::string>> lists = {
            {},
            {"-e", "-ee", "-em", "-em.", "-R", "-d", "-li", "-oc", "-v"},
            {"-C", "-r", "-l", "-m", "-el", "-er", "-ed"},
            {"-o", "-oi.t", "-ox.d", "-ic", "-xb"},
            {"-h", "-a", "-a7", "-b16"},
            {"-um"},
        };
        std::vector<tdump::Options> parsed;
        for (auto arguments : lists) {
            arguments.emplace_back("input");
            parsed.push_back(tdump::parseCommandLine(arguments).options);
        }
        return parsed;
    }();
    return sets;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    for (const tdump::Options& options : switchSets()) {
        tdump::MemorySource source(bytes);
        tdump::Reader reader(source);
        NullSink sink;
        tdump::Output out(sink, std::size_t{64} * 1024);
        tdump::dumpFile(options, "input", reader, out);
    }
    return 0;
}
