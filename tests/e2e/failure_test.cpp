// Runs that cannot go ahead: each shows its message box over the window,
// starts nothing it should not, and leaves the window as the user set it.

#include "control_ids.h"
#include "quellan_driver.h"
#include "screenshot.h"

#include <gtest/gtest.h>

#include <ostream>

namespace quellan::e2e {
namespace {

using namespace controls;

// What the user has set up in the window, which a failure must not touch.
struct WindowState {
    std::string status;
    std::string listName;
    int checkedRow = 0;
    bool makeTextFile = false;
    bool runEnabled = false;
    bool redisplayEnabled = false;
    bool operator==(const WindowState&) const = default;
};

void PrintTo(const WindowState& state, std::ostream* out)
{
    *out << "{status \"" << state.status << "\", list \"" << state.listName << "\", row "
         << state.checkedRow << ", make text file " << state.makeTextFile << ", run "
         << state.runEnabled << ", redisplay " << state.redisplayEnabled << "}";
}

WindowState stateOf(const RunningQuellan& app)
{
    WindowState state;
    state.status = app.statusText();
    state.listName = app.text(Edit1);
    for (int row = 1; row <= 28; ++row) {
        if (app.isChecked(radioButton(row))) {
            state.checkedRow = state.checkedRow == 0 ? row : -1; // -1: more than one
        }
    }
    state.makeTextFile = app.isChecked(CheckBox1);
    state.runEnabled = app.isEnabled(Button1);
    state.redisplayEnabled = app.isEnabled(Button4);
    return state;
}

// Waits for the failure box, checks it is Quellan's own modal box, saves
// a screenshot when named, presses OK and returns the text it showed.
std::string dismissFailure(const RunningQuellan& app, const std::string& screenshot = {})
{
    const MessageBoxWindow box = app.waitForMessageBox(); // captioned "Quellan"
    EXPECT_EQ(GetWindow(box.handle(), GW_OWNER), app.application());
    EXPECT_FALSE(IsWindowEnabled(app.form())) << "the form takes no input while the box is shown";
    std::string text = box.text();
    if (!screenshot.empty()) {
        app.bringToTop(box.handle());
        test::saveScreenshot(box.handle(), screenshot);
    }
    box.pressOk();
    app.waitUntilClosed(box.handle());
    EXPECT_TRUE(IsWindowEnabled(app.form()));
    return text;
}

TEST(Failure, MissingInterpreterShowsTheSystemErrorAndTheWindowStaysAsSet)
{
    const Sandbox sandbox;
    LaunchOptions options = recordingLaunch(sandbox);
    options.comspec = sandbox.programs() + "\\missing.exe";
    const RunningQuellan app(sandbox, options);
    app.chooseFile(sandbox.work() + "\\program.exe");
    app.click(radioButton(8));
    app.setText(Edit1, sandbox.work() + "\\exports.txt");
    const WindowState before = stateOf(app);

    app.postClick(Button1);
    EXPECT_EQ(dismissFailure(app, "e2e-failure-box"),
              "Win32 エラー。コード : 2.\nファイルが見つかりません。.");
    EXPECT_EQ(stateOf(app), before);
    EXPECT_FALSE(app.isEnabled(Button4)) << "a run that failed has nothing to show again";

    // The window still works: the next run fails the same way.
    app.postClick(Button1);
    EXPECT_EQ(dismissFailure(app), "Win32 エラー。コード : 2.\nファイルが見つかりません。.");
    EXPECT_EQ(stateOf(app), before);
    EXPECT_EQ(app.processesStarted(), 1u);
}

TEST(Failure, ViewerThatCannotStartIsReportedAndRedisplayStaysDisabled)
{
    const Sandbox sandbox;
    sandbox.breakViewer();
    const RunningQuellan app(sandbox, recordingLaunch(sandbox));
    const std::string input = sandbox.work() + "\\program.exe";
    app.chooseFile(input);
    const WindowState before = stateOf(app);

    app.postClick(Button1);
    EXPECT_EQ(dismissFailure(app), "失敗です。.");
    EXPECT_EQ(sandbox.events("start", "cmd-recorder").size(), 1u) << "the dump itself ran";
    EXPECT_FALSE(app.isEnabled(Button4));
    EXPECT_EQ(stateOf(app), before);

    // Without a list file no viewer is needed, and the run goes through.
    app.click(CheckBox1);
    app.runAndWait(sandbox, 2);
    EXPECT_EQ(sandbox.commandLines("cmd-recorder").back(),
              sandbox.interpreter() + " /C tdump -h " + input);
    EXPECT_FALSE(app.hasDialog("Quellan"));
    EXPECT_TRUE(app.isEnabled(Button4));
}

// After a run that went through, 再表示 is enabled; neither a dump that
// cannot start nor a viewer that cannot start takes that away.
TEST(Failure, AFailedRunOrRedisplayLeavesAnEnabledRedisplayEnabled)
{
    const Sandbox sandbox;
    const RunningQuellan app(sandbox, recordingLaunch(sandbox));
    app.chooseFile(sandbox.work() + "\\program.exe");
    app.runAndWait(sandbox, 1);
    sandbox.waitForEvents("start", "notepad", 1);
    const WindowState before = stateOf(app);
    ASSERT_TRUE(before.redisplayEnabled);

    ASSERT_TRUE(DeleteFileA(sandbox.interpreter().c_str()));
    app.postClick(Button1);
    EXPECT_EQ(dismissFailure(app), "Win32 エラー。コード : 2.\nファイルが見つかりません。.");
    EXPECT_EQ(stateOf(app), before);

    sandbox.breakViewer();
    app.postClick(Button4);
    EXPECT_EQ(dismissFailure(app), "失敗です。.");
    EXPECT_EQ(stateOf(app), before);
    EXPECT_EQ(sandbox.events("start", "notepad").size(), 1u);
}

TEST(Failure, UnsetComspecIsReportedAndNothingStarts)
{
    const Sandbox sandbox;
    LaunchOptions options = recordingLaunch(sandbox);
    options.comspec.reset();
    const RunningQuellan app(sandbox, options);
    app.chooseFile(sandbox.work() + "\\program.exe");
    const WindowState before = stateOf(app);

    app.postClick(Button1);
    EXPECT_EQ(dismissFailure(app),
              "環境変数 Comspec が設定されていません。コマンドインタプリタを起動できません。.");
    EXPECT_EQ(stateOf(app), before);
    EXPECT_EQ(app.processesStarted(), 1u);
}

TEST(Failure, ComspecOver260CharactersIsReportedAndNothingStarts)
{
    const Sandbox sandbox;
    LaunchOptions options = recordingLaunch(sandbox);
    options.comspec = "C:\\" + std::string(258, 'c'); // 261 characters
    const RunningQuellan app(sandbox, options);
    app.chooseFile(sandbox.work() + "\\program.exe");
    const WindowState before = stateOf(app);

    app.postClick(Button1);
    EXPECT_EQ(dismissFailure(app),
              "環境変数 Comspec が長すぎます (261 文字)。使えるのは 260 文字までです。.");
    EXPECT_EQ(stateOf(app), before);
    EXPECT_EQ(app.processesStarted(), 1u);
}

TEST(Failure, CommandOver260CharactersAndAQuotedListNameAreRefusedForTheDump)
{
    const Sandbox sandbox;
    const RunningQuellan app(sandbox, recordingLaunch(sandbox));
    const std::string& folder = sandbox.work();
    const std::string head = sandbox.interpreter() + " /C tdump -h ";
    const std::string list = folder + "\\Temp.txt";

    // An input name that makes the whole command 261 characters long.
    const std::size_t fixedLength = head.size() + folder.size() + 1 + 1 + list.size();
    ASSERT_LT(fixedLength + 5, 261u);
    const std::string input = folder + "\\" + std::string(261 - fixedLength - 4, 'n') + ".bin";
    ASSERT_EQ(head.size() + input.size() + 1 + list.size(), 261u);
    app.chooseFile(input);
    const WindowState before = stateOf(app);

    app.postClick(Button1);
    EXPECT_EQ(dismissFailure(app),
              "コマンドラインが長すぎます (261 文字)。実行できるのは 260 文字までです。.");
    EXPECT_EQ(stateOf(app), before);
    EXPECT_EQ(app.processesStarted(), 1u);

    // One character less in the list name, and the command runs whole.
    const std::string shorterList = folder + "\\Tmp.txt";
    app.setText(Edit1, shorterList);
    app.runAndWait(sandbox, 1);
    const std::string command = sandbox.commandLines("cmd-recorder").back();
    EXPECT_EQ(command, head + input + " " + shorterList);
    EXPECT_EQ(command.size(), 260u);
    sandbox.waitForEvents("start", "notepad", 1);

    // A double quote cannot be passed on: refused before anything starts.
    const std::string quoted = folder + "\\list\"1.txt";
    app.setText(Edit1, quoted);
    const WindowState withQuote = stateOf(app);
    const DWORD processes = app.processesStarted();
    app.postClick(Button1);
    EXPECT_EQ(dismissFailure(app), "ファイル名に二重引用符 (\") は使えません : " + quoted + ".");
    EXPECT_EQ(stateOf(app), withQuote);
    EXPECT_EQ(app.processesStarted(), processes);
    // The viewer is started without an interpreter: it gets the name as typed.
    app.click(Button4);
    EXPECT_EQ(sandbox.waitForEvents("start", "notepad", 2).back().commandLine,
              "notepad.exe " + quoted);
}

} // namespace
} // namespace quellan::e2e
