// The main window as created: every control's place, size, font and colour,
// compared with the design scaled to the screen by a rule computed here,
// independently of the window's own code. Run once per screen resolution
// (96, 120 and 144 pixels per inch, each in its own Wine prefix).

#include "control_ids.h"
#include "screenshot.h"
#include "ui_test_support.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <richedit.h>

#include <cmath>
#include <vector>

namespace quellan {
namespace {

using namespace controls;

struct Designed {
    int id;
    int left, top, width, height;
    int fontHeight; // 0: the window's font
    bool bold;
    bool mincho;
    COLORREF text; // CLR_INVALID: not painted by the window
    std::string caption;
};

constexpr COLORREF none = CLR_INVALID;
constexpr COLORREF yellow = RGB(255, 255, 0), white = RGB(255, 255, 255), red = RGB(255, 0, 0);

std::vector<Designed> design()
{
    std::vector<Designed> d = {
        {Label1, 184, 712, 91, 17, 17, true, false, white, "FileName ="},
        {Label2, 0, 0, 652, 24, 23, true, true, red, "Delphi  TDUMP ユーティリティ　QUELLAN.EXE "},
        {Button1, 536, 96, 97, 41, 20, true, false, none, "実　行"},
        {Button2, 536, 192, 97, 41, 20, true, false, none, "終　了"},
        {StatusBar1, 0, 757, 652, 34, 0, false, false, none, ""},
        {Button3, 536, 48, 97, 41, 15, true, false, none, "ファイル選択"},
    };
    const int tops[] = {32,  56,  80,  104, 128, 152, 176, 200, 224, 248, 272, 296, 320, 344,
                        368, 384, 408, 432, 456, 480, 504, 532, 552, 576, 600, 624, 648, 672};
    const int heights[] = {17, 17, 17, 17, 25, 25, 25, 25, 25, 25, 25, 25, 25, 17,
                           17, 25, 25, 25, 25, 25, 25, 17, 25, 25, 17, 25, 25, 25};
    for (int row = 1; row <= 28; ++row) {
        d.push_back({radioButton(row), 24, tops[row - 1], 505, heights[row - 1], 15, false, false,
                     yellow, "RadioButton" + std::to_string(row)});
    }
    d.push_back({CheckBox1, 24, 712, 153, 17, 17, true, false, white, "Make Text File"});
    d.push_back({Edit1, 280, 712, 361, 23, 0, false, false, none, "Edit1"});
    d.push_back({Button4, 536, 144, 97, 41, 20, true, false, none, "再表示"});
    d.push_back({RichEdit1, 504, 248, 145, 449, 0, false, false, none, "RichEdit1"});
    return d;
}

// Nearest integer, halves away from zero, of numerator / denominator.
int roundedRatio(long long numerator, long long denominator)
{
    return static_cast<int>(std::llround(static_cast<long double>(numerator) / denominator));
}

struct Screen {
    int dpi;
    int windowFont; // the window font's character height
    int h;          // height of "0" in it
};

Screen measureScreen()
{
    HDC dc = GetDC(nullptr);
    Screen screen{};
    screen.dpi = GetDeviceCaps(dc, LOGPIXELSY);
    screen.windowFont = screen.dpi == 120 ? 15 : roundedRatio(15LL * screen.dpi, 120);
    LOGFONTA spec{};
    spec.lfHeight = -screen.windowFont;
    spec.lfCharSet = SHIFTJIS_CHARSET;
    lstrcpyA(spec.lfFaceName, "ＭＳ Ｐゴシック");
    HFONT font = CreateFontIndirectA(&spec);
    HGDIOBJ previous = SelectObject(dc, font);
    SIZE zero{};
    GetTextExtentPoint32A(dc, "0", 1, &zero);
    SelectObject(dc, previous);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    screen.h = zero.cy;
    return screen;
}

RECT expectedBounds(const Designed& d, const Screen& s)
{
    const RECT designed{d.left, d.top, d.left + d.width, d.top + d.height};
    if (s.h == 15) {
        return designed;
    }
    return {roundedRatio(1LL * designed.left * s.h, 15), roundedRatio(1LL * designed.top * s.h, 15),
            roundedRatio(1LL * designed.right * s.h, 15),
            roundedRatio(1LL * designed.bottom * s.h, 15)};
}

int expectedFontHeight(const Designed& d, const Screen& s)
{
    if (d.fontHeight == 0) {
        return s.windowFont;
    }
    if (s.h == 15) {
        return d.fontHeight;
    }
    const int points = roundedRatio(1LL * d.fontHeight * 72, s.dpi);
    const int scaledPoints = roundedRatio(1LL * points * s.h, 15);
    return roundedRatio(1LL * scaledPoints * s.dpi, 72);
}

::testing::AssertionResult sameRect(const RECT& actual, const RECT& expected)
{
    if (EqualRect(&actual, &expected)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "got (" << actual.left << "," << actual.top << ")-(" << actual.right << ","
           << actual.bottom << "), want (" << expected.left << "," << expected.top << ")-("
           << expected.right << "," << expected.bottom << ")";
}

class Layout : public ::testing::Test {
protected:
    test::FormUnderTest ui;
    Screen screen = measureScreen();
};

TEST_F(Layout, WindowKeepsItsDesignedPlaceSizeAndCaption)
{
    RECT bounds;
    GetWindowRect(ui.window(), &bounds);
    EXPECT_TRUE(sameRect(bounds, {247, 134, 247 + 660, 134 + 823}));
    EXPECT_EQ(test::windowText(ui.window()), "Quellan.exe Ver 1.1 1999.12");
    char className[64];
    GetClassNameA(ui.window(), className, sizeof className);
    EXPECT_STREQ(className, "TForm1");
    const LONG style = GetWindowLongA(ui.window(), GWL_STYLE);
    for (const LONG bit : {WS_THICKFRAME, WS_SYSMENU, WS_MINIMIZEBOX, WS_MAXIMIZEBOX, WS_CAPTION}) {
        EXPECT_NE(style & bit, 0) << std::hex << bit;
    }
    EXPECT_EQ(GetWindow(ui.window(), GW_OWNER), ui.application.handle());
    EXPECT_EQ(test::windowText(ui.application.handle()), "Quellan");
}

TEST_F(Layout, EveryControlStandsWhereTheScaledDesignPutsIt)
{
    RECT client;
    GetClientRect(ui.window(), &client);
    for (const Designed& d : design()) {
        SCOPED_TRACE("control " + std::to_string(d.id));
        const RECT actual = ui.boundsInClient(d.id);
        RECT want = expectedBounds(d, screen);
        if (d.id == Label2) { // aligned to the top edge, full width
            want = {0, 0, client.right, want.bottom};
        } else if (d.id == StatusBar1) { // aligned to the bottom; 34 high whatever the screen
            want = {0, client.bottom - 34, client.right, client.bottom};
        } else if (d.id == Label1) { // sized to its caption from its top-left corner
            EXPECT_EQ(actual.left, want.left);
            EXPECT_EQ(actual.top, want.top);
            continue;
        }
        EXPECT_TRUE(sameRect(actual, want));
    }
}

TEST_F(Layout, Label1IsSizedToItsCaption)
{
    HWND label = ui.item(Label1);
    HDC dc = GetDC(label);
    HGDIOBJ previous =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0)));
    RECT text{};
    DrawTextA(dc, "FileName =", -1, &text, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, previous);
    ReleaseDC(label, dc);
    const RECT actual = ui.boundsInClient(Label1);
    EXPECT_EQ(actual.right - actual.left, text.right);
    EXPECT_EQ(actual.bottom - actual.top, text.bottom);
}

TEST_F(Layout, FontsAreTheDesignedFacesAndHeights)
{
    for (const Designed& d : design()) {
        if (d.id == StatusBar1 || d.id == RichEdit1) {
            continue;
        }
        SCOPED_TRACE("control " + std::to_string(d.id));
        LOGFONTA font{};
        ASSERT_TRUE(
            GetObjectA(reinterpret_cast<HFONT>(SendMessageA(ui.item(d.id), WM_GETFONT, 0, 0)),
                       sizeof font, &font));
        EXPECT_EQ(font.lfHeight, -expectedFontHeight(d, screen));
        EXPECT_EQ(font.lfWeight, d.bold ? FW_BOLD : FW_NORMAL);
        EXPECT_EQ(font.lfCharSet, SHIFTJIS_CHARSET);
        EXPECT_STREQ(font.lfFaceName, d.mincho ? "ＭＳ Ｐ明朝" : "ＭＳ Ｐゴシック");
        EXPECT_EQ(std::string(font.lfFaceName).substr(0, 5), "\x82\x6c\x82\x72 ")
            << "full-width MS, one ASCII blank";
    }
}

// The rich edit control keeps no font handle; its default character format
// tells the face and the height (in twips) it took from the window's font.
TEST_F(Layout, RichEditTakesTheWindowFont)
{
    CHARFORMATA format{};
    format.cbSize = sizeof format;
    SendMessageA(ui.item(RichEdit1), EM_GETCHARFORMAT, SCF_DEFAULT,
                 reinterpret_cast<LPARAM>(&format));
    EXPECT_STREQ(format.szFaceName, "ＭＳ Ｐゴシック");
    EXPECT_EQ(format.yHeight, screen.windowFont * 1440 / screen.dpi);
    EXPECT_EQ(format.dwEffects & CFE_BOLD, 0u);
}

TEST_F(Layout, StatusBarUsesTheSystemStatusFontAndFollowsItsChanges)
{
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(ui.item(StatusBar1), WM_GETFONT, 0, 0)),
               sizeof font, &font);
    EXPECT_EQ(font.lfHeight, metrics.lfStatusFont.lfHeight);
    EXPECT_STREQ(font.lfFaceName, metrics.lfStatusFont.lfFaceName);
    const LONG style = GetWindowLongA(ui.item(StatusBar1), GWL_STYLE);
    EXPECT_NE(style & SBARS_SIZEGRIP, 0);
    EXPECT_TRUE(SendMessageA(ui.item(StatusBar1), SB_ISSIMPLE, 0, 0));

    // A change of the system's font reaches the bar (for this process only:
    // nothing is written to the registry).
    NONCLIENTMETRICSA changed = metrics;
    changed.lfStatusFont.lfHeight = metrics.lfStatusFont.lfHeight < 0 ? -21 : 21;
    ASSERT_TRUE(SystemParametersInfoA(SPI_SETNONCLIENTMETRICS, sizeof changed, &changed, 0));
    SendMessageA(ui.window(), WM_SETTINGCHANGE, SPI_SETNONCLIENTMETRICS, 0);
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(ui.item(StatusBar1), WM_GETFONT, 0, 0)),
               sizeof font, &font);
    SystemParametersInfoA(SPI_SETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    EXPECT_EQ(font.lfHeight, changed.lfStatusFont.lfHeight);
}

TEST_F(Layout, ColoursAreTealYellowWhiteAndRedOnWhite)
{
    HBRUSH background = reinterpret_cast<HBRUSH>(GetClassLongPtrA(ui.window(), GCLP_HBRBACKGROUND));
    LOGBRUSH brush{};
    GetObjectA(background, sizeof brush, &brush);
    EXPECT_EQ(brush.lbColor, RGB(0, 128, 128));

    HDC dc = CreateCompatibleDC(nullptr);
    for (const Designed& d : design()) {
        if (d.text == none) {
            continue;
        }
        SCOPED_TRACE("control " + std::to_string(d.id));
        const auto result =
            SendMessageA(ui.window(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                         reinterpret_cast<LPARAM>(ui.item(d.id)));
        EXPECT_EQ(GetTextColor(dc), d.text);
        const COLORREF back = d.id == Label2 ? white : RGB(0, 128, 128);
        EXPECT_EQ(GetBkColor(dc), back);
        GetObjectA(reinterpret_cast<HBRUSH>(result), sizeof brush, &brush);
        EXPECT_EQ(brush.lbColor, back);
    }
    DeleteDC(dc);
}

TEST_F(Layout, CaptionsAtCreationAreThePlaceholders)
{
    for (const Designed& d : design()) {
        EXPECT_EQ(ui.text(d.id), d.caption) << d.id;
    }
    EXPECT_EQ(SendMessageA(ui.item(CheckBox1), BM_GETCHECK, 0, 0), BST_CHECKED);
    char className[64];
    GetClassNameA(ui.item(RichEdit1), className, sizeof className);
    EXPECT_STREQ(className, "RICHEDIT") << "the rich edit control of RICHED32.DLL";
    const LONG richStyle = GetWindowLongA(ui.item(RichEdit1), GWL_STYLE);
    EXPECT_EQ(richStyle & (WS_VSCROLL | WS_HSCROLL), 0);
    EXPECT_NE(richStyle & ES_WANTRETURN, 0);
    EXPECT_NE(richStyle & ES_MULTILINE, 0);
    EXPECT_NE(GetWindowLongA(ui.item(RichEdit1), GWL_EXSTYLE) & WS_EX_CLIENTEDGE, 0);
    EXPECT_NE(GetWindowLongA(ui.item(Edit1), GWL_EXSTYLE) & WS_EX_CLIENTEDGE, 0);
    EXPECT_EQ(GetWindowLongA(ui.item(Edit1), GWL_STYLE) & ES_MULTILINE, 0);
    for (const int button : {Button1, Button2, Button3, Button4}) {
        EXPECT_EQ(GetWindowLongA(ui.item(button), GWL_STYLE) & 0x0F, BS_PUSHBUTTON)
            << "no default button";
    }
    EXPECT_NE(GetWindowLongA(ui.item(Label2), GWL_STYLE) & SS_CENTER, 0);
}

// The two bars, which overlap nothing until the controls scroll, lie above
// them all: nothing that scrolls may cover them.
TEST_F(Layout, LaterControlsLieAboveEarlierOnesAndTheBarsAboveAll)
{
    std::vector<int> fromTop;
    for (HWND child = GetWindow(ui.window(), GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        fromTop.push_back(GetDlgCtrlID(child));
    }
    std::vector<int> expected;
    for (const Designed& d : design()) {
        if (d.id != StatusBar1 && d.id != Label2) {
            expected.insert(expected.begin(), d.id);
        }
    }
    expected.insert(expected.begin(), {StatusBar1, Label2});
    EXPECT_EQ(fromTop, expected);
}

TEST_F(Layout, TheInitialisedWindowIsDrawnInItsColours)
{
    ui.show();
    RedrawWindow(ui.window(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    test::pumpMessages(300);
    // What the screen shows: the teal form, the banner white at its left
    // end, and the first option's yellow caption drawn on teal.
    const test::WindowPixels pixels(ui.window());
    RecordProperty("screenshot", pixels.save("window-" + std::to_string(screen.dpi) + "dpi"));
    EXPECT_EQ(pixels.at(2, ui.boundsInClient(radioButton(14)).top), RGB(0, 128, 128));
    EXPECT_EQ(pixels.at(2, 2), white);
    const RECT option = ui.boundsInClient(radioButton(1));
    EXPECT_TRUE(pixels.contains(option, yellow)) << "no caption drawn";
}

} // namespace
} // namespace quellan
