#include "test_support.h"

#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "bytes.h"
#include "dump.h"
#include "options.h"
#include "output.h"

namespace tdump::test {

std::string listing(const std::vector<std::uint8_t>& bytes,
                    const std::vector<std::string>& switches)
{
    std::vector<std::string> arguments = switches;
    arguments.emplace_back("image.bin");
    const ParseResult parsed = parseCommandLine(arguments);
    if (!parsed.error.empty()) {
        return "parse error: " + parsed.error;
    }
    MemorySource source(bytes);
    Reader reader(source);
    StringSink sink;
    WorkBudget budget(listingWorkLimit(bytes.size()));
    {
        Output out(sink, budget);
        dumpFile(parsed.options, "image.bin", reader, out);
    }
    return sink.text;
}

std::string switchLine(const std::string& listing, const std::string& text)
{
    // "  -e         executable display": the switch in a column of 10.
    std::string start = "\n  " + text;
    start.append(text.size() < 10 ? 10 - text.size() : 0, ' ');
    start += ' ';
    const auto at = listing.find(start);
    if (at == std::string::npos) {
        return {};
    }
    const auto from = at + start.size();
    return listing.substr(from, listing.find('\n', from) - from);
}

std::string hexOffset(std::size_t offset)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), digits[offset % 16]);
        offset /= 16;
    } while (offset != 0);
    return "(at file offset 0x" + text + ")";
}

std::vector<std::string> reports(const std::string& listing)
{
    std::vector<std::string> found;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("** ") != std::string::npos) {
            found.push_back(line);
        }
    }
    return found;
}

::testing::AssertionResult Contains(const std::string& text, std::string_view part)
{
    if (text.find(part) != std::string::npos) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "expected to find\n" << part << "\nin\n" << text;
}

::testing::AssertionResult Lacks(const std::string& text, std::string_view part)
{
    if (text.find(part) == std::string::npos) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "did not expect to find\n" << part << "\nin\n" << text;
}

TempFolder::TempFolder()
    : path_(std::filesystem::temp_directory_path() /
            ("tdump-test-" + std::to_string(std::random_device()())))
{
    std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void TempFolder::write(const std::string& name, const std::vector<std::uint8_t>& bytes) const
{
    std::ofstream(path_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void TempFolder::write(const std::string& name, const std::string& text) const
{
    std::ofstream(path_ / name, std::ios::binary) << text;
}

std::string TempFolder::read(const std::string& name) const
{
    std::ifstream in(path_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace tdump::test
