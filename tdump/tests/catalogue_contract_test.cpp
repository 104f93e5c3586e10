// The contract with the window: its catalogue passes each of its switches
// to tdump exactly as written, placeholders included. Every one must be
// accepted, and on every kind of file either show something or say why
// not; and on some kind of file it must take effect.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "dump_option_catalogue.h"
#include "image_builder.h"
#include "options.h"
#include "test_support.h"

namespace tdump::test {
namespace {

struct SampleFile {
    std::string kind;
    std::vector<std::uint8_t> bytes;
};

std::vector<SampleFile> everyKindOfFile()
{
    const std::string names = "?work@@YAHH@Z\n_ZN6sample4workEi\n";
    return {
        {"PE image", makeSampleImage().bytes.data},
        {"COFF object", makeSampleObject().bytes.data},
        {"import object", makeShortImport("ExitProcess", "KERNEL32.dll", 0x120, false)},
        {"archive",
         makeArchive({{"object.o", makeSampleObject().bytes.data}}, {{"_ZN6sample4workEi", 0}})},
        {"program database", makePdb().bytes.data},
        {"OMF object", makeOmfObject().bytes},
        {"OMF library",
         makeOmfLibrary({{makeOmfModule("alpha", {"_alpha"}), {"_alpha"}}}).bytes.data},
        {"text", std::vector<std::uint8_t>(names.begin(), names.end())},
    };
}

// What follows the heading: the displays.
std::string displays(const std::string& listing)
{
    const auto end = listing.find("\n\n");
    return end == std::string::npos ? std::string() : listing.substr(end + 2);
}

TEST(WindowContract, EveryCatalogueSwitchIsAcceptedAndShowsSomethingOrSaysWhyNot)
{
    const std::vector<SampleFile> files = everyKindOfFile();
    std::vector<Switch> seen;
    for (const quellan::DumpOption* option = quellan::DumpOptionCatalogue::begin();
         option != quellan::DumpOptionCatalogue::end(); ++option) {
        const std::string text(option->passedSwitch);
        const ParseResult parsed = parseCommandLine({text, "in.exe", "out.txt"});
        ASSERT_TRUE(parsed.error.empty()) << text << ": " << parsed.error;
        ASSERT_EQ(parsed.options.switches.size(), 1u) << text;
        EXPECT_EQ(parsed.options.switches[0].text, text);
        EXPECT_EQ(parsed.options.input, "in.exe");
        EXPECT_EQ(parsed.options.listFile, "out.txt");
        seen.push_back(parsed.options.switches[0].which());

        int effective = 0;
        for (const SampleFile& file : files) {
            const std::string listed = listing(file.bytes, {text});
            const std::string line = switchLine(listed, text);
            ASSERT_FALSE(line.empty()) << text << " unmentioned on the " << file.kind << ":\n"
                                       << listed;
            if (line.starts_with("no effect on ")) {
                EXPECT_GT(line.find(": "), line.find(" on ")) << text << " gives no reason";
                EXPECT_FALSE(line.ends_with(": ")) << text << " on the " << file.kind;
                continue;
            }
            ++effective;
            EXPECT_FALSE(displays(listed).empty())
                << text << " shows nothing on the " << file.kind << ":\n"
                << listed;
        }
        EXPECT_GT(effective, 0) << text << " takes effect on no kind of file";
    }
    EXPECT_EQ(seen.size(), std::size_t{quellan::DumpOptionCatalogue::rowCount});
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end())
        << "two switches parsed as the same";
}

} // namespace
} // namespace tdump::test
