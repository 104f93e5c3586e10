// Running the dump: the command line the interpreter receives for the
// chosen option, the viewer that follows, the redisplay button, the list
// file switch, the window waiting for the dump, and leaving the program.

#include "control_ids.h"
#include "quellan_driver.h"

#include <gtest/gtest.h>

namespace quellan::e2e {
namespace {

using namespace controls;

class Run : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::writeFile(input, "MZ");
        app.emplace(sandbox, recordingLaunch(sandbox));
        app->chooseFile(input);
    }

    std::string dumpCommand(const std::string& tail) const
    {
        return sandbox.interpreter() + " /C tdump " + tail;
    }
    std::vector<std::string> viewerCommands(std::size_t count) const
    {
        sandbox.waitForEvents("start", "notepad", count);
        return sandbox.commandLines("notepad");
    }

    const Sandbox sandbox;
    const std::string input = sandbox.work() + "\\program.exe";
    const std::string list = sandbox.work() + "\\Temp.txt";
    std::optional<RunningQuellan> app;
};

TEST_F(Run, EachOptionReachesTheInterpreterAndTheViewerShowsTheListAfterwards)
{
    struct Option {
        int row;
        const char* passedSwitch;
    };
    // The switch as the dump tool takes it, which for some rows is shorter
    // than the caption's form; -R differs from -r only in case.
    const Option options[] = {{3, "-b#"}, {8, "-ee"}, {10, "-em."}, {26, "-R"}};

    std::size_t runs = 0;
    std::size_t views = 0;
    for (const Option& option : options) {
        SCOPED_TRACE("row " + std::to_string(option.row));
        app->click(radioButton(option.row));
        EXPECT_TRUE(app->isChecked(radioButton(option.row)));
        EXPECT_FALSE(app->isChecked(radioButton(15)));

        app->runAndWait(sandbox, ++runs);
        const std::vector<RecorderEvent> dumps = sandbox.events("start", "cmd-recorder");
        ASSERT_EQ(dumps.size(), runs);
        EXPECT_EQ(dumps.back().commandLine,
                  dumpCommand(std::string(option.passedSwitch) + " " + input + " " + list));

        const std::vector<RecorderEvent> viewers =
            sandbox.waitForEvents("start", "notepad", ++views);
        ASSERT_EQ(viewers.size(), views);
        EXPECT_EQ(viewers.back().commandLine, "notepad.exe " + list);
        EXPECT_EQ(viewers.back().show, SW_SHOWNORMAL);
        EXPECT_GE(viewers.back().timeMicroseconds,
                  sandbox.events("end", "cmd-recorder").back().timeMicroseconds)
            << "the viewer must not open the list before the dump has written it";
        EXPECT_TRUE(app->isEnabled(Button4));

        // Redisplay opens the same list again, without another dump.
        app->postClick(Button4);
        EXPECT_EQ(viewerCommands(++views).size(), views);
        EXPECT_EQ(sandbox.commandLines("notepad").back(), "notepad.exe " + list);
        EXPECT_EQ(sandbox.events("start", "cmd-recorder").size(), runs);
    }
}

TEST_F(Run, MakeTextFileDecidesOnTheListArgumentTheViewerAndTheProposedName)
{
    // A name of the user's own, while the box is ticked.
    const std::string ownList = sandbox.makeFolder("lists") + "\\dump.lst";
    app->setText(Edit1, ownList);
    app->runAndWait(sandbox, 1);
    EXPECT_EQ(sandbox.commandLines("cmd-recorder").back(),
              dumpCommand("-h " + input + " " + ownList));
    EXPECT_EQ(viewerCommands(1).back(), "notepad.exe " + ownList);

    // Cleared: no list file in the command, no viewer, and redisplay is
    // enabled by the run yet starts nothing.
    app->click(CheckBox1);
    EXPECT_FALSE(app->isChecked(CheckBox1));
    EXPECT_FALSE(app->isEnabled(Edit1));
    EXPECT_FALSE(app->isEnabled(Label1));
    const DWORD processesBefore = app->processesStarted();
    app->runAndWait(sandbox, 2);
    EXPECT_EQ(sandbox.commandLines("cmd-recorder").back(), dumpCommand("-h " + input));
    EXPECT_TRUE(app->isEnabled(Button4));
    app->click(Button4);
    app->sync();
    EXPECT_EQ(app->processesStarted(), processesBefore + 1) << "only the dump was started";
    EXPECT_EQ(sandbox.events("start", "notepad").size(), 1u);

    // Ticked again: the user's name is replaced by the proposed one.
    app->click(CheckBox1);
    EXPECT_TRUE(app->isEnabled(Edit1));
    EXPECT_TRUE(app->isEnabled(Label1));
    EXPECT_EQ(app->text(Edit1), list);
    app->runAndWait(sandbox, 3);
    EXPECT_EQ(sandbox.commandLines("cmd-recorder").back(), dumpCommand("-h " + input + " " + list));
    EXPECT_EQ(viewerCommands(2).back(), "notepad.exe " + list);

    // An emptied name box still gives the list argument its blank, and the
    // viewer is started without a name.
    app->setText(Edit1, "");
    app->runAndWait(sandbox, 4);
    EXPECT_EQ(sandbox.commandLines("cmd-recorder").back(), dumpCommand("-h " + input + " "));
    EXPECT_EQ(viewerCommands(3).back(), "notepad.exe ");
}

TEST(RunWaits, WindowWaitsForTheDumpToEndBeforeItAnswersOrStartsTheViewer)
{
    const Sandbox sandbox;
    LaunchOptions options = recordingLaunch(sandbox);
    options.recorderSleepMs = 2000;
    const RunningQuellan app(sandbox, options);
    app.chooseFile(sandbox.work() + "\\slow.bin");

    app.postClick(Button1);
    ASSERT_EQ(sandbox.waitForEvents("start", "cmd-recorder", 1).size(), 1u);
    EXPECT_FALSE(app.responds(300)) << "the window answered while the dump was running";
    EXPECT_TRUE(sandbox.events("end", "cmd-recorder").empty()) << "the dump ended too soon to tell";
    EXPECT_TRUE(sandbox.events("start", "notepad").empty());
    EXPECT_FALSE(app.isEnabled(Button4));

    ASSERT_EQ(sandbox.waitForEvents("end", "cmd-recorder", 1).size(), 1u);
    EXPECT_TRUE(app.responds(stepTimeoutMs));
    const std::vector<RecorderEvent> viewers = sandbox.waitForEvents("start", "notepad", 1);
    ASSERT_EQ(viewers.size(), 1u);
    EXPECT_GE(viewers[0].timeMicroseconds,
              sandbox.events("end", "cmd-recorder")[0].timeMicroseconds);
    EXPECT_TRUE(app.isEnabled(Button4));
}

TEST(Exit, ExitButtonEndsTheProgramWithExitCodeZero)
{
    const Sandbox sandbox;
    const RunningQuellan app(sandbox, recordingLaunch(sandbox));
    app.click(Button2);
    EXPECT_EQ(app.waitForExit(), 0u);
    EXPECT_FALSE(IsWindow(app.form()));
    EXPECT_FALSE(IsWindow(app.application()));
}

TEST(Exit, CloseBoxEndsTheProgramWithExitCodeZero)
{
    const Sandbox sandbox;
    const RunningQuellan app(sandbox, recordingLaunch(sandbox));
    app.pressCloseBox();
    EXPECT_EQ(app.waitForExit(), 0u);
    EXPECT_FALSE(IsWindow(app.form()));
    EXPECT_FALSE(IsWindow(app.application()));
}

} // namespace
} // namespace quellan::e2e
