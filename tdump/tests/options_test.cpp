#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

#include "options.h"

namespace tdump::test {
namespace {

ParseResult parse(const std::vector<std::string>& arguments)
{
    return parseCommandLine(arguments);
}

// Exactly the switches the front-end passes, placeholders included.
const std::vector<std::string> frontEndSwitches = {
    "-a",  "-a7",   "-b#",   "-C",   "-d", "-e",   "-eiID", "-ee", "-em", "-em.",
    "-ed", "-el",   "-er",   "-ex",  "-h", "-iID", "-l",    "-li", "-m",  "-o",
    "-oc", "-oiID", "-oxID", "-xID", "-r", "-R",   "-v",    "-um"};

TEST(CommandLine, AcceptsEverySwitchTheFrontEndPasses)
{
    ASSERT_EQ(frontEndSwitches.size(), 28u);
    std::vector<Switch> seen;
    for (const std::string& s : frontEndSwitches) {
        const ParseResult r = parse({s, "in.exe", "out.txt"});
        ASSERT_TRUE(r.error.empty()) << s << ": " << r.error;
        ASSERT_EQ(r.options.switches.size(), 1u);
        EXPECT_EQ(r.options.switches[0].text, s);
        EXPECT_FALSE(r.options.switches[0].meaning.empty()) << s;
        EXPECT_EQ(r.options.input, "in.exe");
        EXPECT_EQ(r.options.listFile, "out.txt");
        seen.push_back(r.options.switches[0].which());
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end())
        << "two switches parsed as the same";
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
    EXPECT_NE(parse({"-i?", "in"}).options.switches[0].remark.find("t=debug header streams"),
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
    EXPECT_EQ(only("-oi.rdata").sectionInclude, std::vector<std::string>{".rdata"});
    EXPECT_EQ(only("-ic").switches[0].which(), Switch::DebugInclude);
    for (const char* name : {"RES", "tls", "CFG", "EXC", "CRT", "OVL"}) {
        EXPECT_NE(only(std::string("-ei") + name).exeTables, 0u) << name;
    }
    // A switch without an argument takes none: these are not switches.
    for (const char* text : {"-ea", "-ocx", "-a8", "-hx", "-ex1", "-umx"}) {
        EXPECT_EQ(parse({text, "in"}).error, std::string("unknown switch ") + text);
    }
}

TEST(CommandLine, EverySwitchAppliesToAKindOfFileOrSaysWhyNot)
{
    constexpr FileKind kinds[] = {
        FileKind::PeImage,      FileKind::DosExecutable, FileKind::CoffObject,
        FileKind::ImportObject, FileKind::Archive,       FileKind::PdbFile,
        FileKind::OmfObject,    FileKind::OmfLibrary,    FileKind::Unknown};
    for (const std::string& text : frontEndSwitches) {
        const SwitchUse use = parse({text, "in"}).options.switches.at(0);
        int applies = 0;
        for (const FileKind kind : kinds) {
            const auto why = use.whyNoEffect(kind);
            applies += why ? 0 : 1;
            EXPECT_TRUE(!why || !why->empty()) << text << " on kind " << static_cast<int>(kind);
        }
        EXPECT_GT(applies, 0) << text;
    }
    const auto why = [](const std::string& text, FileKind kind) {
        return parse({text, "in"}).options.switches.at(0).whyNoEffect(kind);
    };
    EXPECT_FALSE(why("-ee", FileKind::PeImage));
    EXPECT_EQ(why("-ee", FileKind::Archive), "exports and imports belong to PE images");
    EXPECT_FALSE(why("-o", FileKind::Unknown)); // -o forces the COFF display
    EXPECT_TRUE(why("-C", FileKind::Unknown));
    EXPECT_TRUE(why("-m", FileKind::Unknown));
    // A program database is debug information through and through.
    for (const char* text : {"-d", "-ic", "-xc", "-ed", "-v", "-m"}) {
        EXPECT_FALSE(why(text, FileKind::PdbFile)) << text;
    }
    for (const char* text : {"-C", "-e", "-ee", "-R", "-l", "-r", "-oc"}) {
        EXPECT_TRUE(why(text, FileKind::PdbFile)) << text;
    }
}

TEST(CommandLine, SomeSwitchesReadDifferentlyOnOmfFiles)
{
    const auto use = [](const std::string& text) {
        return parse({text, "in"}).options.switches.at(0);
    };
    // -oi and -ox: a section name on COFF files, a record name (any case)
    // on OMF files.
    const ParseResult records = parse({"-oipubdef", "-oxLEDATA32", "in"});
    EXPECT_EQ(records.options.recordInclude, std::vector<std::string>{"PUBDEF"});
    EXPECT_EQ(records.options.recordExclude, std::vector<std::string>{"LEDATA32"});
    const SwitchUse& oi = records.options.switches[0];
    EXPECT_EQ(oi.meaningOn(FileKind::CoffObject),
              "only sections whose name starts with \"pubdef\"");
    EXPECT_EQ(oi.meaningOn(FileKind::OmfObject), "only records of type PUBDEF");
    EXPECT_NE(use("-oiNOSUCH").remarkOn(FileKind::OmfLibrary).find("unknown record name"),
              std::string::npos);
    EXPECT_TRUE(use("-oiNOSUCH").remarkOn(FileKind::CoffObject).empty());
    EXPECT_TRUE(parse({"-oiNOSUCH", "in"}).options.recordInclude.empty());
    EXPECT_NE(use("-ox?").remarkOn(FileKind::OmfObject).find(" FIXUPP FIXUPP32 "),
              std::string::npos);
    // What they show.
    EXPECT_EQ(use("-o").displayOn(FileKind::OmfObject), Display::Records);
    EXPECT_EQ(use("-o").displayOn(FileKind::PeImage), Display::Coff);
    EXPECT_EQ(use("-o").displayOn(FileKind::Unknown), Display::Coff);
    EXPECT_EQ(use("-l").displayOn(FileKind::OmfLibrary), Display::Library);
    EXPECT_FALSE(use("-l").whyNoEffect(FileKind::OmfLibrary));
    EXPECT_TRUE(use("-l").whyNoEffect(FileKind::OmfObject));
    for (const char* text : {"-o", "-oc", "-r", "-oiPUBDEF", "-oxLEDATA", "-li", "-v", "-m"}) {
        EXPECT_FALSE(use(text).whyNoEffect(FileKind::OmfObject)) << text;
        EXPECT_FALSE(use(text).whyNoEffect(FileKind::OmfLibrary)) << text;
    }
    for (const char* text : {"-C", "-d", "-e", "-R", "-el", "-er", "-ee"}) {
        EXPECT_TRUE(use(text).whyNoEffect(FileKind::OmfObject)) << text;
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
