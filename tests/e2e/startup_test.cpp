// What the user sees once Quellan.exe has come up: the option captions, the
// usage text and the defaults, set when the window is first activated.

#include "control_ids.h"
#include "quellan_driver.h"
#include "screenshot.h"

#include <gtest/gtest.h>

#include <array>

namespace quellan::e2e {
namespace {

using namespace controls;

// Every option: the switch left-aligned in eight columns, then what it does.
constexpr std::array<const char*, 28> optionCaptions{
    "-a      ASCII file display",
    "-a7     Display file in 7-Bit mode",
    "-b#     Offset into file for display",
    "-C      Dump COFF format in OBJ or LIB file",
    "-d      Dump 32bit debug information in OBJs",
    "-e      Force Executable file display",
    "-eiID   Include only .EXE table ID (HDR, OBJ, FIX, NAM, ENT)",
    "-ee[=x] List Exports only from EXE/DLL (opt. string x lists matches only)",
    "-em[=x] List Imports only from EXE/DLL (opt. string x lists matches only)",
    "-em.[x] List Imported modules only from EXE/DLL (opt. search string)",
    "-ed     Disable EXE debug info display",
    "-el     Disable EXE line number display",
    "-er     Disable EXE relocation record display",
    "-ex     Disable New Executable Display",
    "-h      Force hexadecimal file display",
    "-iID    Include debug table(s) \"ID\" (ID=[?/abc...rst])",
    "-l      Library format file Display",
    "-li[=x] Dump IMPDEF records (optional string x lists matches only)",
    "-m      Disable C++ name de-mangling",
    "-o      Force .OBJ format file display",
    "-oc     CRC Check .OBJ file records",
    "-oiID   Include .OBJ file record \"ID\" (ID=? for a list of record names)",
    "-oxID   Exclude .OBJ file record \"ID\" (ID=? for a list of record names)",
    "-xID    Exclude debug table(s) \"ID\" (ID=[?/abc...rst])",
    "-r      Do raw dump of selected record contents",
    "-R      Dump PE relocation table",
    "-v      Do verbose dump of selected record contents",
    "-um     Assume each line in file is a mangled name and unmangle",
};

// Read back from the rich edit control, which under Wine (RICHED32 in its
// 1.0 mode) hands the CR LF line breaks back as they were set.
constexpr char usageText[] = " *** 使用法 ***\r\n"
                             "\r\n"
                             "1.[ファイル選択]でダンプしたいファイルを選択する。\r\n"
                             "2.ダンプ・モードをラジオボタンで選定する。\r\n"
                             "3.[実行]をクリックするとQUELLAN.EXE が実行される。\r\n"
                             "　※チェックボックスにチェックを付けて、ファイル名を指定してあるとダン"
                             "プ結果をメモ帖で自動的に開かれる。"
                             "（ファイル長が長い場合、自動的にワードパットに切り替わる。\r\n"
                             "　※指定ファイル名は、必要により変更可能。\r\n"
                             "4.[再表示]でダンプ結果を再表示する。\r\n"
                             "5.[終了]で終わる。";

TEST(Startup, WindowShowsTheOptionsTheUsageAndTheDefaults)
{
    Sandbox sandbox;
    // A start folder with a blank and double-byte characters: the proposed
    // list file is that folder's name exactly as the system gives it.
    LaunchOptions options = recordingLaunch(sandbox);
    options.startDirectory = sandbox.makeFolder("開始 フォルダ");
    const RunningQuellan app(sandbox, options);

    EXPECT_EQ(windowText(app.form()), "Quellan.exe Ver 1.1 1999.12");
    // The form is owned by the zero-size application window, which carries
    // the program's title.
    EXPECT_EQ(GetWindow(app.form(), GW_OWNER), app.application());
    EXPECT_EQ(windowText(app.application()), "Quellan");
    RECT applicationBounds{};
    GetWindowRect(app.application(), &applicationBounds);
    EXPECT_EQ(applicationBounds.right - applicationBounds.left, 0);
    EXPECT_EQ(applicationBounds.bottom - applicationBounds.top, 0);

    for (int row = 1; row <= 28; ++row) {
        SCOPED_TRACE("row " + std::to_string(row));
        EXPECT_EQ(app.text(radioButton(row)), optionCaptions[static_cast<std::size_t>(row - 1)]);
        EXPECT_EQ(app.isChecked(radioButton(row)), row == 15) << "-h is the option chosen at start";
    }
    EXPECT_EQ(app.text(RichEdit1), usageText);

    EXPECT_EQ(app.text(Edit1), options.startDirectory + "\\Temp.txt");
    EXPECT_TRUE(app.isEnabled(Edit1));
    EXPECT_TRUE(app.isChecked(CheckBox1));
    EXPECT_EQ(app.text(CheckBox1), "Make Text File");
    EXPECT_EQ(app.text(Label1), "FileName =");
    EXPECT_EQ(app.statusText(), "");

    EXPECT_EQ(app.text(Button3), "ファイル選択");
    EXPECT_EQ(app.text(Button1), "実　行");
    EXPECT_EQ(app.text(Button4), "再表示");
    EXPECT_EQ(app.text(Button2), "終　了");
    EXPECT_TRUE(app.isEnabled(Button3));
    EXPECT_TRUE(app.isEnabled(Button2));
    EXPECT_FALSE(app.isEnabled(Button1)) << "nothing to run before a file is chosen";
    EXPECT_FALSE(app.isEnabled(Button4)) << "nothing to show again before a run";

    EXPECT_EQ(app.processesStarted(), 1u) << "start-up starts no other program";

    app.bringToTop(app.form());
    test::saveScreenshot(app.form(), "e2e-initialised");
}

TEST(Startup, ListFileIsProposedInTheStartFolderAsItStandsEvenAtADriveRoot)
{
    Sandbox sandbox;
    LaunchOptions options = recordingLaunch(sandbox);
    options.startDirectory = "C:\\";
    const RunningQuellan app(sandbox, options);
    EXPECT_EQ(app.text(Edit1), "C:\\\\Temp.txt");
}

} // namespace
} // namespace quellan::e2e
