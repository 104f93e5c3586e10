// The work limit of a listing: a forged file whose tables all point at the
// same bytes stops with a closing line, and no input under 10 MB can make a
// listing of more than 1 GB; the largest real listings, the file displays,
// stay whole.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dump.h"
#include "image_builder.h"
#include "output.h"
#include "run.h"
#include "test_support.h"

namespace tdump::test {
namespace {

constexpr std::string_view stoppedEarly = "** the listing stopped early";

// Counts what is written and keeps only the end: the listings here are tens
// of megabytes.
class CountingSink final : public Sink {
public:
    void write(std::string_view data) override
    {
        written += data.size();
        tail.append(data);
        if (tail.size() > kept) {
            tail.erase(0, tail.size() - kept);
        }
    }
    static constexpr std::size_t kept = 4096;
    std::uint64_t written = 0;
    std::string tail;
};

// Lists bytes as the program does, from a file, under the work limit of
// its size.
CountingSink listed(const std::vector<std::uint8_t>& bytes, std::vector<std::string> arguments)
{
    const TempFolder folder;
    folder.write("input.bin", bytes);
    arguments.push_back(folder.file("input.bin"));
    CountingSink sink;
    StringSink errors;
    EXPECT_EQ(runTool(arguments, sink, errors), exitOk) << errors.text;
    return sink;
}

// The sample DLL with .tables grown to 64 KiB and filled with import
// tables that all overlap: descriptorCount descriptors, each naming the same
// lookup table of 3000 entries, each entry naming the same 4000-character
// name. Listed in full a thousand would be 12 GB.
std::vector<std::uint8_t> overlappingImports(std::size_t descriptorCount = 1000)
{
    constexpr std::uint32_t size = 0x10000;
    constexpr std::size_t nameLength = 4000;
    constexpr std::size_t moduleName = 0x1000;
    constexpr std::size_t lookupTable = 0x1100;
    constexpr std::size_t thunks = 3000;
    constexpr std::size_t descriptors = 0x7000;
    constexpr std::size_t descriptorSize = 20;
    const SampleImage layout = makeSampleImage();
    TablesImage image;
    Bytes& b = image.bytes();
    const std::size_t header = layout.sectionTable + std::size_t{3} * 40;
    b.put32(header + 8, size);
    b.put32(header + 16, size);
    b.put32(layout.optionalHeader + 56, TablesImage::tablesRva + size);
    b.put8(TablesImage::at(size - 1), 0);
    b.putText(TablesImage::at(2), std::string(nameLength, 'A'));
    b.putText(TablesImage::at(moduleName), "KERNEL32.dll");
    for (std::size_t i = 0; i < thunks; ++i) {
        b.put64(TablesImage::at(lookupTable + i * 8), TablesImage::rva(0));
    }
    for (std::size_t i = 0; i < descriptorCount; ++i) {
        const std::size_t at = TablesImage::at(descriptors + i * descriptorSize);
        b.put32(at, TablesImage::rva(lookupTable));
        b.put32(at + 12, TablesImage::rva(moduleName));
        b.put32(at + 16, TablesImage::rva(lookupTable));
    }
    image.setDirectory(1, TablesImage::rva(descriptors),
                       static_cast<std::uint32_t>(descriptorCount * descriptorSize));
    return b.data;
}

TEST(WorkLimit, NoInputUnderTenMegabytesListsMoreThanAGigabyte)
{
    // A unit of work is at least a byte written.
    EXPECT_LE(listingWorkLimit(10'000'000), 1'000'000'000u);
}

TEST(WorkLimit, OverlappingImportTablesStopWithAClosingLine)
{
    const auto bytes = overlappingImports();
    for (const char* display : {"-em", "-e"}) {
        const CountingSink sink = listed(bytes, {display});
        EXPECT_TRUE(Contains(sink.tail, stoppedEarly)) << display;
        // A table entry's line at most past the limit.
        EXPECT_LE(sink.written, listingWorkLimit(bytes.size()) + 8192) << display;
    }
}

// A filter that matches nothing writes nothing, but every name it searches
// is work: a hundred descriptors' 300,000 names of 4000 characters, 1.2 GB
// searched, stop as a listing of them would.
TEST(WorkLimit, NamesSearchedByAFilterCountAsWork)
{
    const auto bytes = overlappingImports(100);
    for (const char* display : {"-em=zzz", "-em"}) {
        const CountingSink sink = listed(bytes, {display});
        EXPECT_TRUE(Contains(sink.tail, stoppedEarly)) << display;
    }
}

// The hex and text displays are the largest listings for their size, about
// five times the file; a 10 MB file's are whole. So are the listings of the
// sample image with every switch.
TEST(WorkLimit, RealListingsAreWhole)
{
    std::vector<std::uint8_t> bytes(10'000'000);
    std::uint32_t state = 1;
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    const CountingSink sink = listed(bytes, {"-h", "-a", "-a7"});
    EXPECT_GT(sink.written, bytes.size() * 6);
    EXPECT_TRUE(Lacks(sink.tail, stoppedEarly));
    const auto image = makeSampleImage().bytes.data;
    for (const char* display :
         {"-a",  "-a7", "-b0x40",   "-C",       "-d",  "-e",  "-ee", "-em", "-em.",
          "-ed", "-el", "-er",      "-ex",      "-h",  "-ia", "-l",  "-li", "-m",
          "-o",  "-oc", "-oi.text", "-ox.text", "-xa", "-r",  "-R",  "-um"}) {
        EXPECT_TRUE(Lacks(listing(image, {display, "-v"}), stoppedEarly)) << display;
    }
}

} // namespace
} // namespace tdump::test
