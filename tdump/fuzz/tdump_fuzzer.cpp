// Any input, as a file to dump with every listing switch: no crash, no
// sanitizer report, no run-away time or memory, whatever the bytes; and
// outside the file displays (-h, -a), which show the bytes as they are, no
// control character but the line feed in the listing: whatever a name holds
// is written escaped.

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

// Checks the listing instead of keeping it.
class CheckingSink final : public tdump::Sink {
public:
    explicit CheckingSink(bool plainText) : plainText_(plainText) {}
    void write(std::string_view data) override
    {
        if (!plainText_) {
            return;
        }
        for (const char c : data) {
            const auto byte = static_cast<unsigned char>(c);
            if ((byte < 0x20 && c != '\n') || byte == 0x7F) {
                __builtin_printf("a control character (0x%02x) reached the listing\n", byte);
                __builtin_trap();
            }
        }
    }

private:
    bool plainText_;
};

const std::vector<tdump::Options>& switchSets()
{
    static const std::vector<tdump::Options> sets = [] {
        const std::vector<std::vector<std::string>> lists = {
            {},
            {"-e", "-ee", "-em", "-em.", "-R", "-d", "-li", "-oc", "-v"},
            {"-C", "-r", "-l", "-m", "-el", "-er", "-ed", "-v"},
            {"-o", "-oi.t", "-ox.d", "-ic", "-xb"},
            // OMF: every display, the records chosen by name.
            {"-o", "-l", "-v", "-li", "-oc", "-r", "-oiPUBDEF", "-oiLIDATA", "-oiFIXUPP",
             "-oiCOMDAT", "-oxLEDATA"},
            {"-um"},
            {"-h", "-a", "-a7", "-b16"}, // the file displays: last
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
    const std::vector<tdump::Options>& sets = switchSets();
    for (std::size_t i = 0; i < sets.size(); ++i) {
        const tdump::Options& options = sets[i];
        tdump::MemorySource source(bytes);
        tdump::Reader reader(source);
        CheckingSink sink(i + 1 < sets.size());
        tdump::WorkBudget budget(tdump::listingWorkLimit(size));
        tdump::Output out(sink, budget, std::size_t{64} * 1024);
        tdump::dumpFile(options, "input", reader, out);
    }
    return 0;
}
