#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

#include "image_builder.h"
#include "options.h"
#include "test_support.h"

namespace tdump::test {
namespace {

ParseResult parse(const std::vector<std::string>& arguments)
{
    return parseCommandLine(arguments);
}

TEST(CommandLine, PlaceholdersAreExplainedNotRejected)
{
    for (const char* s : {"-b#", "-eiID", "-iID", "-xID", "-oiID", "-oxID"}) {
        const ParseResult r = parse({s, "in"});
        ASSERT_TRUE(r.error.empty()) << s;
        EXPECT_NE(r.options.switches[0].remark.find("needs"), std::string::npos) << s;
    }
    const ParseResult offset = parse({"-b#", "in"});
    EXPECT_EQ(offset.options.offset, 0u);
    EXPECT_EQ(offset.options.switches[0].remark,
              "-b needs a number, e.g. -b1024 or -b0x400; the display starts at offset 0");
}

TEST(CommandLine, RealArguments)
{
    EXPECT_EQ(parse({"-b1024", "in"}).options.offset, 1024u);
    EXPECT_EQ(parse({"-b0x400", "in"}).options.offset, 0x400u);
    EXPECT_FALSE(parse({"-b12z", "in"}).options.switches[0].remark.empty());
    EXPECT_FALSE(parse({"-b99999999999999999999999", "in"}).options.switches[0].remark.empty());
    EXPECT_EQ(parse({"-ee=name", "in"}).options.exportFilter, "name");
    EXPECT_EQ(parse({"-eename", "in"}).options.exportFilter, "name");
    EXPECT_EQ(parse({"-em=kernel", "in"}).options.importFilter, "kernel");
    EXPECT_EQ(parse({"-em.user", "in"}).options.moduleFilter, "user");
    EXPECT_EQ(parse({"-li=x", "in"}).options.impdefFilter, "x");
    EXPECT_EQ(parse({"-eiHDR", "in"}).options.exeTables, unsigned{tableHeaders});
    EXPECT_EQ(parse({"-eient", "-eiFIX", "in"}).options.exeTables,
              unsigned{tableExports | tableFixups});
    EXPECT_FALSE(parse({"-eiXYZ", "in"}).options.switches[0].remark.empty());
    const Options sections = parse({"-oi.text", "-ox.debug", "in"}).options;
    EXPECT_TRUE(sections.sectionSelected(".text"));
    EXPECT_TRUE(sections.sectionSelected(".text$mn"));
    EXPECT_FALSE(sections.sectionSelected(".data"));
    const Options debugTables = parse({"-iac", "-xc", "in"}).options;
    EXPECT_TRUE(debugTables.debugTableSelected(DebugTable::Directory));
    EXPECT_FALSE(debugTables.debugTableSelected(DebugTable::Lines)) << "-x wins over -i";
    EXPECT_FALSE(debugTables.debugTableSelected(DebugTable::Symbols));
    const Options withoutTypes = parse({"-xh", "in"}).options;
    EXPECT_TRUE(withoutTypes.debugTableSelected(DebugTable::Symbols));
    EXPECT_FALSE(withoutTypes.debugTableSelected(DebugTable::Types));
    EXPECT_TRUE(parse({"-d", "in"}).options.debugTableSelected(DebugTable::DebugHeaderStreams));
    EXPECT_NE(parse({"-i?", "in"}).options.switches[0].remark.find("x=call frames"),
              std::string::npos);
    EXPECT_NE(parse({"-icz", "in"}).options.switches[0].remark.find("\"z\""), std::string::npos);
}

TEST(CommandLine, SeveralSwitchesAndTheirOrder)
{
    const ParseResult r = parse({"-ee", "in.dll", "-m", "list.txt"});
    ASSERT_TRUE(r.error.empty());
    ASSERT_EQ(r.options.switches.size(), 2u);
    EXPECT_TRUE(r.options.has(Switch::Exports));
    EXPECT_FALSE(r.options.demangle());
    EXPECT_EQ(r.options.listFile, "list.txt");
}

TEST(CommandLine, TheLongestSwitchNameWinsAndOnlySwitchesWithArgumentsTakeOne)
{
    const auto only = [](const std::string& text) {
        const ParseResult r = parse({text, "in"});
        EXPECT_TRUE(r.error.empty()) << text << ": " << r.error;
        return r.options;
    };
    EXPECT_EQ(only("-em.x").switches[0].which(), Switch::ImportModules);
    EXPECT_EQ(only("-em.x").moduleFilter, "x");
    EXPECT_EQ(only("-em").switches[0].which(), Switch::Imports);
    EXPECT_EQ(only("-eex").exportFilter, "x");
    EXPECT_EQ(only("-a7").switches[0].which(), Switch::Ascii7);
    EXPECT_EQ(only("-oc").switches[0].which(), Switch::Checksum);
    EXPECT_EQ(only("-oi.rdata").sections.only, std::vector<std::string>{".rdata"});
    EXPECT_EQ(only("-ic").switches[0].which(), Switch::DebugInclude);
    for (const char* name : {"RES", "tls", "CFG", "EXC", "CRT", "OVL"}) {
        EXPECT_NE(only(std::string("-ei") + name).exeTables, 0u) << name;
    }
    // A switch without an argument takes none: these are not switches.
    for (const char* text : {"-ea", "-ocx", "-a8", "-hx", "-ex1", "-umx"}) {
        EXPECT_EQ(parse({text, "in"}).error, std::string("unknown switch ") + text);
    }
}

// Whether a switch does something for a file is the file's format to say;
// the heading shows the answer.
TEST(Formats, SayWhichSwitchesDoNothingForThemAndWhy)
{
    const auto said = [](const std::vector<std::uint8_t>& file, const std::string& text) {
        return switchLine(listing(file, {text}), text);
    };
    const auto noEffect = [&](const std::vector<std::uint8_t>& file, const std::string& text) {
        return said(file, text).starts_with("no effect on ");
    };
    const std::vector<std::uint8_t> image = makeSampleImage().bytes.data;
    const std::vector<std::uint8_t> archive =
        makeArchive({{"object.o", makeSampleObject().bytes.data}}, {});
    const std::vector<std::uint8_t> database = makePdb().bytes.data;
    const std::vector<std::uint8_t> unknown(64, 0x20);
    EXPECT_FALSE(noEffect(image, "-ee"));
    EXPECT_EQ(said(archive, "-ee"),
              "no effect on an archive library: exports and imports belong to PE images");
    EXPECT_FALSE(noEffect(unknown, "-o")); // -o forces the COFF display
    EXPECT_EQ(said(unknown, "-C"), "no effect on a file of unknown type: it has no COFF headers "
                                   "(-o forces the attempt)");
    EXPECT_TRUE(noEffect(unknown, "-m"));
    // A program database is debug information through and through.
    for (const char* text : {"-d", "-ic", "-xc", "-ed", "-v", "-m"}) {
        EXPECT_FALSE(noEffect(database, text)) << text;
    }
    for (const char* text : {"-C", "-e", "-ee", "-R", "-l", "-r", "-oc"}) {
        EXPECT_TRUE(said(database, text).starts_with("no effect on a program database: ")) << text;
    }
}

TEST(CommandLine, SomeSwitchesReadDifferentlyOnRecordFiles)
{
    const auto use = [](const std::string& text) {
        return parse({text, "in"}).options.switches.at(0);
    };
    // -oi and -ox: a section name on COFF files, a record name (any case)
    // on OMF files.
    const ParseResult records = parse({"-oipubdef", "-oxLEDATA32", "in"});
    EXPECT_EQ(records.options.records.only, std::vector<std::string>{"PUBDEF"});
    EXPECT_EQ(records.options.records.without, std::vector<std::string>{"LEDATA32"});
    const SwitchUse& oi = records.options.switches[0];
    EXPECT_EQ(oi.meaningIn(Reading::Sections), "only sections whose name starts with \"pubdef\"");
    EXPECT_EQ(oi.meaningIn(Reading::Records), "only records of type PUBDEF");
    EXPECT_NE(use("-oiNOSUCH").remarkIn(Reading::Records).find("unknown record name"),
              std::string::npos);
    EXPECT_TRUE(use("-oiNOSUCH").remarkIn(Reading::Sections).empty());
    EXPECT_TRUE(parse({"-oiNOSUCH", "in"}).options.records.only.empty());
    EXPECT_NE(use("-ox?").remarkIn(Reading::Records).find(" FIXUPP FIXUPP32 "), std::string::npos);
    EXPECT_EQ(use("-C").meaningIn(Reading::Records), use("-C").meaningIn(Reading::Sections));
}

TEST(Formats, OmfFilesTakeTheRecordReading)
{
    const std::vector<std::uint8_t> object = makeOmfObject().bytes;
    const std::vector<std::uint8_t> library =
        makeOmfLibrary({{makeOmfModule("alpha", {"_alpha"}), {"_alpha"}}}).bytes.data;
    const auto said = [](const std::vector<std::uint8_t>& file, const std::string& text) {
        return switchLine(listing(file, {text}), text);
    };
    EXPECT_EQ(said(object, "-o"), "OMF record display");
    EXPECT_TRUE(Contains(listing(object, {"-o"}), "\nOMF records\n"));
    EXPECT_TRUE(Contains(listing(makeSampleImage().bytes.data, {"-o"}), "\nCOFF file header"));
    EXPECT_EQ(said(object, "-oiPUBDEF"), "only records of type PUBDEF");
    EXPECT_FALSE(said(library, "-l").starts_with("no effect"));
    EXPECT_EQ(said(object, "-l"),
              "no effect on an OMF object module: it is not an archive library");
    for (const char* text : {"-o", "-oc", "-r", "-oiPUBDEF", "-oxLEDATA", "-li", "-v", "-m"}) {
        EXPECT_FALSE(said(object, text).starts_with("no effect")) << text;
        EXPECT_FALSE(said(library, text).starts_with("no effect")) << text;
    }
    for (const char* text : {"-C", "-d", "-e", "-R", "-el", "-er", "-ee"}) {
        EXPECT_TRUE(said(object, text).starts_with("no effect on an OMF object module: ")) << text;
    }
}

TEST(CommandLine, Errors)
{
    EXPECT_EQ(parse({"-q", "in"}).error, "unknown switch -q");
    EXPECT_EQ(parse({"-A", "in"}).error, "unknown switch -A");
    EXPECT_EQ(parse({"-h"}).error, "no input file given");
    EXPECT_EQ(parse({"a", "b", "c"}).error, "too many file names: c");
    // A lone "-" is a file name, as for many tools.
    EXPECT_EQ(parse({"-"}).options.input, "-");
}

TEST(CommandLine, FiltersIgnoreCase)
{
    EXPECT_TRUE(matchesFilter("GetLastError", "lasterr"));
    EXPECT_TRUE(matchesFilter("anything", ""));
    EXPECT_FALSE(matchesFilter("Sleep", "wake"));
}

} // namespace
} // namespace tdump::test
