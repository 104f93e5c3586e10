#include "dump_state.h"

#include "exception.h"

#include <gtest/gtest.h>

namespace quellan {
namespace {

// Names in code page 932, the tests' own.
std::string commandArgument(std::string_view name)
{
    return commandArgument(name, CodePage::cp932());
}

std::string interpreterArgument(std::string_view name)
{
    return interpreterArgument(name, CodePage::cp932());
}

// A state as the window leaves it after start-up: the proposed name written
// into the edit box and passed back.
DumpState initialised(const std::string& directory = "C:\\WORK")
{
    DumpState state;
    state.setListFileName(state.initialise(directory));
    return state;
}

TEST(DumpState, StartsEmptyAndInitialisesToTheDefaults)
{
    DumpState state;
    EXPECT_EQ(state.inputFile, "");
    EXPECT_EQ(state.listFileName, "");

    state.inputFile = "kept.exe";
    EXPECT_EQ(state.initialise("C:\\WORK"), "C:\\WORK\\Temp.txt");
    EXPECT_EQ(state.listFileName, "") << "the window, not initialise, sets the name";
    EXPECT_EQ(state.currentSwitch, "-h");
    EXPECT_TRUE(state.makeTextFile);
    EXPECT_EQ(state.startDirectory, "C:\\WORK");
    EXPECT_EQ(state.inputFile, "kept.exe");
}

TEST(DumpState, DefaultListFileNameIsAppendedEvenAtADriveRoot)
{
    DumpState state;
    EXPECT_EQ(state.initialise("C:\\"), "C:\\\\Temp.txt");
}

TEST(DumpState, SelectSwitchTakesTheRowsPassedSwitch)
{
    DumpState state = initialised();
    state.selectSwitch(8);
    EXPECT_EQ(state.currentSwitch, "-ee");
    state.selectSwitch(3);
    EXPECT_EQ(state.currentSwitch, "-b#");
    state.selectSwitch(26);
    EXPECT_EQ(state.currentSwitch, "-R");
}

TEST(DumpState, TextFileOffKeepsTheNameAndOnReproposesTheDefault)
{
    DumpState state = initialised();
    state.setListFileName("D:\\mine.txt");

    EXPECT_EQ(state.setMakeTextFile(false), std::nullopt);
    EXPECT_FALSE(state.makeTextFile);
    EXPECT_EQ(state.listFileName, "D:\\mine.txt");

    EXPECT_EQ(state.setMakeTextFile(true), "C:\\WORK\\Temp.txt");
    EXPECT_TRUE(state.makeTextFile);
}

TEST(DumpState, StatusTextIsUpperCasedButTheInputFileIsKeptAsChosen)
{
    DumpState state = initialised();
    EXPECT_EQ(state.setInputFile("c:\\work\\app.exe"), "C:\\WORK\\APP.EXE");
    EXPECT_EQ(state.inputFile, "c:\\work\\app.exe");

    // フ (0x83 0x74) must not turn into サ (0x83 0x54).
    EXPECT_EQ(state.setInputFile("c:\\フ\\a.exe"), "C:\\フ\\A.EXE");
    EXPECT_EQ(state.inputFile, "c:\\フ\\a.exe");
    EXPECT_EQ(state.setInputFile("x\x83"), "X\x83");
}

TEST(DumpState, ComposesBothFormsOfTheDumpCommand)
{
    DumpState state = initialised();
    state.setInputFile("C:\\WORK\\APP.EXE");
    EXPECT_EQ(state.composeDumpCommand("C:\\COMMAND.COM"),
              "C:\\COMMAND.COM /C tdump -h C:\\WORK\\APP.EXE C:\\WORK\\Temp.txt");

    state.selectSwitch(3);
    state.setMakeTextFile(false);
    EXPECT_EQ(state.composeDumpCommand("C:\\COMMAND.COM"),
              "C:\\COMMAND.COM /C tdump -b# C:\\WORK\\APP.EXE");
    EXPECT_EQ(state.composeViewerCommand(), std::nullopt);
}

TEST(DumpState, AnEmptyListFileLeavesOneTrailingBlank)
{
    DumpState state = initialised();
    state.setInputFile("a.exe");
    state.setListFileName("");
    EXPECT_EQ(state.composeDumpCommand("cmd.exe"), "cmd.exe /C tdump -h a.exe ");
    EXPECT_EQ(state.composeViewerCommand(), "notepad.exe ");
}

// The viewer, started without an interpreter, takes everything after its
// own name as the file's name.
TEST(DumpState, ViewerCommandNamesTheListFileAsItStands)
{
    DumpState state = initialised();
    EXPECT_EQ(state.composeViewerCommand(), "notepad.exe C:\\WORK\\Temp.txt");
    for (const char* name : {"C:\\My Files\\out.txt", "100%.txt", "a&b.txt", "out\".txt"}) {
        state.setListFileName(name);
        EXPECT_EQ(state.composeViewerCommand(), std::string("notepad.exe ") + name);
    }
}

TEST(DumpState, NamesWithBlanksOrInterpreterSpecialsAreQuoted)
{
    DumpState state = initialised();
    state.setInputFile("C:\\My Files\\a.exe");
    state.setListFileName("C:\\out&del.txt");
    EXPECT_EQ(state.composeDumpCommand("cmd.exe"),
              "cmd.exe /C tdump -h \"C:\\My Files\\a.exe\" \"C:\\out&del.txt\"");

    for (const char* special :
         {" ", "\t", "&", "|", "<", ">", "^", "(", ")", ",", ";", "=", "%", "!"}) {
        EXPECT_EQ(commandArgument(std::string("a") + special + "b"),
                  std::string("\"a") + special + "b\"")
            << special;
    }
    EXPECT_EQ(commandArgument("a&echo x>pwned.txt"), "\"a&echo x>pwned.txt\"");
}

// The interpreter expands %NAME% even inside quotes; the viewer is started
// without one and gets the name as it is.
TEST(DumpState, PercentSignsReachTheInterpreterInAFormItExpandsBackToThemselves)
{
    DumpState state = initialised();
    state.setInputFile("a %OS% b.exe");
    state.setListFileName("100%.txt");
    EXPECT_EQ(state.composeDumpCommand("cmd.exe"),
              "cmd.exe /C tdump -h \"a %%cd:~,%OS%%cd:~,% b.exe\" \"100%%cd:~,%.txt\"");

    EXPECT_EQ(interpreterArgument("%%"), "\"%%cd:~,%%%cd:~,%\"");
    EXPECT_EQ(interpreterArgument("a!b"), "\"a!b\"");
    EXPECT_EQ(interpreterArgument("C:\\My Files"), "\"C:\\My Files\"");
    // 0x25 is never a trail byte: after a lone lead byte it is still a '%'.
    EXPECT_EQ(interpreterArgument("\x83%"), "\"\x83%%cd:~,%\"");
    // The longer form counts towards the limit of 260 characters.
    state.setMakeTextFile(false);
    const std::string head = "cmd.exe /C tdump -h \"";
    state.setInputFile(std::string(260 - head.size() - 9, 'x') + "%");
    EXPECT_EQ(state.composeDumpCommand("cmd.exe").size(), 260u);
    state.setInputFile(std::string(261 - head.size() - 9, 'x') + "%");
    EXPECT_THROW(state.composeDumpCommand("cmd.exe"), Exception);
}

// Whether a byte leads a character depends on the system's code page: the
// decision to quote never does, so no code page can hide a special.
TEST(DumpState, NamesAreQuotedForTheirBytesWhateverTheCodePage)
{
    const CodePage cp1252{CodePage::LeadBytes{}};
    for (const CodePage* system : {&CodePage::cp932(), &cp1252}) {
        // é (0xE9) leads in 932, and '^' and '|' may follow a lead byte.
        EXPECT_EQ(commandArgument("q\xE9^x.exe", *system), "\"q\xE9^x.exe\"");
        EXPECT_EQ(commandArgument("q\xE9|x.exe", *system), "\"q\xE9|x.exe\"");
        // ポ ends in 0x7C: quoted, which changes nothing for the dump tool.
        EXPECT_EQ(commandArgument("C:\\ポ.exe", *system), "\"C:\\ポ.exe\"");
        EXPECT_EQ(commandArgument("C:\\ソ表.exe", *system), "C:\\ソ表.exe");
    }
    DumpState state(cp1252);
    state.setListFileName(state.initialise("C:\\WORK"));
    state.setInputFile("C:\\q\xE9^x.exe");
    state.setListFileName("q\xE9|x.exe");
    EXPECT_EQ(state.composeDumpCommand("cmd.exe"),
              "cmd.exe /C tdump -h \"C:\\q\xE9^x.exe\" \"q\xE9|x.exe\"");
}

// Inside quotes the runtime reads backslashes before the closing quote as
// escapes; a trailing 0x5C is one only where it is no second byte, which
// the system's code page decides.
TEST(DumpState, OnlyRealTrailingBackslashesAreDoubledInsideQuotes)
{
    const CodePage cp1252{CodePage::LeadBytes{}};
    EXPECT_EQ(commandArgument("C:\\a b\\ソ"), "\"C:\\a b\\ソ\"");
    EXPECT_EQ(commandArgument("C:\\a b\\"), "\"C:\\a b\\\\\"");
    EXPECT_EQ(commandArgument("C:\\a b\\ソ", cp1252), "\"C:\\a b\\ソ\\\"");
}

TEST(DumpState, TheStatusTextUpperCasesLettersOfTheSystemsCodePage)
{
    DumpState japanese = initialised();
    DumpState western(CodePage{CodePage::LeadBytes{}});
    // In 932 "éa" is one character; in 1252 the a is a letter of its own.
    const std::string eAcute = "\xE9";
    EXPECT_EQ(japanese.setInputFile("c:\\q" + eAcute + "a.exe"), "C:\\Q" + eAcute + "a.EXE");
    EXPECT_EQ(western.setInputFile("c:\\q" + eAcute + "a.exe"), "C:\\Q" + eAcute + "A.EXE");
}

TEST(DumpState, ALeadByteWithoutAValidTrailByteHidesNothing)
{
    // 0x83 before '&' or '"' is no double-byte character: the '&' still
    // needs quotes and the '"' is still refused.
    EXPECT_EQ(commandArgument("a\x83&calc"), "\"a\x83&calc\"");
    EXPECT_THROW(commandArgument("a\x83\"b"), Exception);
    EXPECT_EQ(commandArgument("a\x83 b"), "\"a\x83 b\"");
}

TEST(DumpState, ADoubleQuoteInANameIsRefused)
{
    DumpState state = initialised();
    state.setInputFile("a\"b.exe");
    EXPECT_THROW(state.composeDumpCommand("cmd.exe"), Exception);

    state.setInputFile("a.exe");
    state.setListFileName("out\".txt");
    EXPECT_THROW(state.composeDumpCommand("cmd.exe"), Exception);
    state.setMakeTextFile(false);
    EXPECT_NO_THROW(state.composeDumpCommand("cmd.exe")) << "the list file is not used";
}

TEST(DumpState, ControlCharactersInANameAreRefused)
{
    for (const char* name : {"a\nb.txt", "a\rb.txt", "a\x1B.txt"}) {
        EXPECT_THROW(commandArgument(name), Exception) << name;
    }
    EXPECT_THROW(commandArgument(std::string("a\0b", 3)), Exception);
    EXPECT_EQ(commandArgument("a\tb"), "\"a\tb\"");
}

TEST(DumpState, CommandsOfUpTo260CharactersAreComposedLongerOnesRefused)
{
    DumpState state = initialised();
    state.setMakeTextFile(false);
    const std::string head = "cmd.exe /C tdump -h ";
    state.setInputFile(std::string(260 - head.size(), 'x'));
    EXPECT_EQ(state.composeDumpCommand("cmd.exe").size(), 260u);

    state.setInputFile(std::string(261 - head.size(), 'x'));
    try {
        state.composeDumpCommand("cmd.exe");
        FAIL() << "a 261-character command was composed";
    } catch (const Exception& failure) {
        EXPECT_EQ(std::string(failure.what()),
                  "コマンドラインが長すぎます (261 文字)。実行できるのは 260 文字までです。");
    }
}

} // namespace
} // namespace quellan
