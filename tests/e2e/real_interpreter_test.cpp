// Dumps through the real command interpreter: cmd.exe finds the dump tool
// (here the recorder as tdump.exe) in the start folder, and its arguments
// must arrive as Quellan meant them, however the names look.

#include "control_ids.h"
#include "quellan_driver.h"

#include <gtest/gtest.h>

namespace quellan::e2e {
namespace {

using namespace controls;

bool fileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

LaunchOptions realInterpreterLaunch(const Sandbox& sandbox, const std::string& startDirectory)
{
    sandbox.installDumpTool(startDirectory); // cmd.exe looks in its current folder first
    LaunchOptions options = recordingLaunch(sandbox);
    options.comspec = systemInterpreter();
    options.startDirectory = startDirectory;
    return options;
}

TEST(RealInterpreter, DumpToolReceivesTheSwitchTheInputAndTheListAsThreeArguments)
{
    const Sandbox sandbox;
    // Blanks in both names, so both reach cmd.exe in quotes. The input lies
    // in the start folder: the dialog may leave Quellan in the chosen file's
    // folder, and there cmd.exe must find tdump.exe too.
    const std::string start = sandbox.makeFolder("start here");
    const std::string input = start + "\\my program.exe";
    const std::string list = start + "\\Temp.txt";
    test::writeFile(input, "MZ");
    const RunningQuellan app(sandbox, realInterpreterLaunch(sandbox, start));
    app.chooseFile(input);
    app.click(radioButton(8));

    app.runAndWait(sandbox, 1, "tdump");
    const std::vector<RecorderEvent> dumps = sandbox.events("start", "tdump");
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_EQ(splitCommandLine(dumps[0].commandLine),
              (std::vector<std::string>{"tdump", "-ee", input, list}));

    // The viewer opens what the dump tool wrote, once it has written it.
    const std::vector<RecorderEvent> viewers = sandbox.waitForEvents("start", "notepad", 1);
    ASSERT_EQ(viewers.size(), 1u);
    EXPECT_EQ(viewers[0].commandLine, "notepad.exe " + list);
    EXPECT_GE(viewers[0].timeMicroseconds, sandbox.events("end", "tdump")[0].timeMicroseconds);
    EXPECT_EQ(test::readFile(list), "argc=3\r\n"
                                    "argv[1]=-ee\r\n"
                                    "argv[2]=" +
                                        input +
                                        "\r\n"
                                        "argv[3]=" +
                                        list + "\r\n");
}

TEST(RealInterpreter, ShellCharactersInTheListNameAreNeverRunByTheInterpreter)
{
    const Sandbox sandbox;
    const std::string injected = "a&echo x>pwned.txt";

    // The check below can see an injection: unquoted, this cmd.exe does run
    // what follows the "&".
    {
        const std::string control = sandbox.makeFolder("control");
        runHidden(systemInterpreter() + " /C tdump -h in.bin " + injected, control);
        ASSERT_TRUE(fileExists(control + "\\pwned.txt"));
    }

    const RunningQuellan app(sandbox, realInterpreterLaunch(sandbox, sandbox.work()));
    const std::string input = sandbox.work() + "\\in.bin";
    test::writeFile(input, "MZ");
    app.chooseFile(input);

    // The second name has no blank: the shell characters alone must quote it.
    const std::string names[] = {injected, "a&echo>pwned.txt"};
    std::size_t runs = 0;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        app.setText(Edit1, name);
        app.runAndWait(sandbox, ++runs, "tdump");
        const std::vector<RecorderEvent> dumps = sandbox.events("start", "tdump");
        ASSERT_EQ(dumps.size(), runs);
        EXPECT_EQ(splitCommandLine(dumps.back().commandLine),
                  (std::vector<std::string>{"tdump", "-h", input, name}));
        // An injected echo would write into cmd.exe's current folder, which
        // the dump tool shares.
        EXPECT_FALSE(fileExists(dumps.back().directory + "\\pwned.txt"));
        EXPECT_FALSE(fileExists(sandbox.work() + "\\pwned.txt"));
        EXPECT_FALSE(fileExists(sandbox.programs() + "\\pwned.txt"));
        EXPECT_EQ(sandbox.waitForEvents("start", "notepad", runs).back().commandLine,
                  "notepad.exe " + name);
    }
}

// cmd.exe expands %NAME% inside quotes too; every name must still reach
// the dump tool as it is, and the viewer open the file the tool wrote.
TEST(RealInterpreter, PercentAndExclamationSignsReachTheDumpToolAsTheyAre)
{
    const Sandbox sandbox;
    const RunningQuellan app(sandbox, realInterpreterLaunch(sandbox, sandbox.work()));
    const std::string input = sandbox.work() + "\\a %OS% b.exe";
    test::writeFile(input, "MZ");
    app.chooseFile(input);

    const std::string names[] = {"out %OS%.txt", "100%.txt", "%%",         "%CD%x",
                                 "%PATH:~0,1%",  "a!OS!b",   "!PATH:~0,1!"};
    std::size_t runs = 0;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        app.setText(Edit1, name);
        app.runAndWait(sandbox, ++runs, "tdump");
        const RecorderEvent dump = sandbox.events("start", "tdump").back();
        EXPECT_EQ(splitCommandLine(dump.commandLine),
                  (std::vector<std::string>{"tdump", "-h", input, name}));
        EXPECT_TRUE(fileExists(dump.directory + "\\" + name));
        EXPECT_EQ(sandbox.waitForEvents("start", "notepad", runs).back().commandLine,
                  "notepad.exe " + name);
    }
}

// The interpreter runs but finds no dump tool: that is no failure of
// Quellan's, so no box; the viewer opens the list file all the same. A list
// file in a folder that does not exist is taken as typed.
TEST(RealInterpreter, WithoutADumpToolTheRunEndsQuietlyAndTheViewerStillOpens)
{
    const Sandbox sandbox;
    LaunchOptions options = recordingLaunch(sandbox);
    options.comspec = systemInterpreter();
    options.path = systemPath();
    const RunningQuellan app(sandbox, options);
    const std::string input = sandbox.work() + "\\in.bin";
    test::writeFile(input, "MZ");
    app.chooseFile(input);
    const std::string list = sandbox.work() + "\\no such folder\\out.txt";
    app.setText(Edit1, list);

    app.postClick(Button1);
    EXPECT_EQ(sandbox.waitForEvents("start", "notepad", 1).back().commandLine,
              "notepad.exe " + list);
    app.sync();
    EXPECT_FALSE(app.hasDialog("Quellan"));
    EXPECT_TRUE(app.isEnabled(Button4));
    EXPECT_EQ(app.text(Edit1), list);
    EXPECT_FALSE(fileExists(list));
}

// Runs in code page 1252, where 0xE9 is "é" and leads no character: its
// own ctest entry starts the tests in a western locale. A name is quoted
// for its bytes, so the '^' and '|' after "é" reach the dump tool, and the
// status bar upper-cases the letter after it.
TEST(WesternCodePage, NamesWhoseBytesWouldPairInCodePage932ReachTheDumpToolWhole)
{
    ASSERT_EQ(GetACP(), 1252u) << "this test needs the en_US.UTF-8 locale";
    const Sandbox sandbox;
    // A pipe into x.exe would start it, and it would log its start.
    test::copyFile(test::programFolder() + "\\recorder.exe", sandbox.work() + "\\x.exe");
    const RunningQuellan app(sandbox, realInterpreterLaunch(sandbox, sandbox.work()));
    const std::string eAcute = "\xE9";
    const std::string input = sandbox.work() + "\\q" + eAcute + "^" + eAcute + "a.exe";
    test::writeFile(input, "MZ");
    app.chooseFile(input);
    EXPECT_EQ(app.statusText(),
              asciiUpper(sandbox.work()) + "\\Q" + eAcute + "^" + eAcute + "A.EXE");

    const std::string list = "q\xE9|x.txt";
    app.setText(Edit1, list);
    app.runAndWait(sandbox, 1, "tdump");
    const std::vector<RecorderEvent> dumps = sandbox.events("start", "tdump");
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_EQ(splitCommandLine(dumps[0].commandLine),
              (std::vector<std::string>{"tdump", "-h", input, list}));
    EXPECT_EQ(sandbox.waitForEvents("start", "notepad", 1).back().commandLine,
              "notepad.exe " + list);
    EXPECT_TRUE(sandbox.events("start", "x").empty()) << "the dump was piped into x.exe";
}

} // namespace
} // namespace quellan::e2e
