#include "form_layout.h"

#include "control_ids.h"

#include <array>

namespace quellan::layout {
namespace {

using namespace controls;

constexpr FontDesign gothic15Bold{FontFace::Gothic, 15, true};
constexpr FontDesign gothic15{FontFace::Gothic, 15, false};
constexpr FontDesign gothic17Bold{FontFace::Gothic, 17, true};
constexpr FontDesign gothic20Bold{FontFace::Gothic, 20, true};
constexpr FontDesign mincho23Bold{FontFace::Mincho, 23, true};

constexpr RECT at(int left, int top, int width, int height)
{
    return {left, top, left + width, top + height};
}

constexpr std::nullopt_t none = std::nullopt;

// One row a control, in creation order (which is the tab order too):
// name, id, kind, rectangle at 120 pixels per inch, caption at creation,
// font (none: the window's; the status bar keeps the system's), text
// colour and background where the window paints them, tab stop. The option
// buttons' tab stop follows the check.
// clang-format off
constexpr std::array<ControlDesign, 38> designs{{
    {"Label1",        Label1,            ControlKind::Label,       at(184, 712, 91, 17),  "FileName =",                      gothic17Bold, white,  teal,  false},
    {"Label2",        Label2,            ControlKind::Label,       at(0, 0, 652, 24),     "Delphi  TDUMP ユーティリティ　QUELLAN.EXE ", mincho23Bold, red, white, false},
    {"Button1",       Button1,           ControlKind::Button,      at(536, 96, 97, 41),   "実　行",                          gothic20Bold, none,   none,  true},
    {"Button2",       Button2,           ControlKind::Button,      at(536, 192, 97, 41),  "終　了",                          gothic20Bold, none,   none,  true},
    {"StatusBar1",    StatusBar1,        ControlKind::StatusBar,   at(0, 757, 652, statusBarHeight), "",                     none,         none,   none,  false},
    {"Button3",       Button3,           ControlKind::Button,      at(536, 48, 97, 41),   "ファイル選択",                    gothic15Bold, none,   none,  true},
    {"RadioButton1",  RadioButton1,      ControlKind::RadioButton, at(24,  32, 505, 17), "RadioButton1",                   gothic15,     yellow, teal,  false},
    {"RadioButton2",  RadioButton1 + 1,  ControlKind::RadioButton, at(24,  56, 505, 17), "RadioButton2",                   gothic15,     yellow, teal,  false},
    {"RadioButton3",  RadioButton1 + 2,  ControlKind::RadioButton, at(24,  80, 505, 17), "RadioButton3",                   gothic15,     yellow, teal,  false},
    {"RadioButton4",  RadioButton1 + 3,  ControlKind::RadioButton, at(24, 104, 505, 17), "RadioButton4",                   gothic15,     yellow, teal,  false},
    {"RadioButton5",  RadioButton1 + 4,  ControlKind::RadioButton, at(24, 128, 505, 25), "RadioButton5",                   gothic15,     yellow, teal,  false},
    {"RadioButton6",  RadioButton1 + 5,  ControlKind::RadioButton, at(24, 152, 505, 25), "RadioButton6",                   gothic15,     yellow, teal,  false},
    {"RadioButton7",  RadioButton1 + 6,  ControlKind::RadioButton, at(24, 176, 505, 25), "RadioButton7",                   gothic15,     yellow, teal,  false},
    {"RadioButton8",  RadioButton1 + 7,  ControlKind::RadioButton, at(24, 200, 505, 25), "RadioButton8",                   gothic15,     yellow, teal,  false},
    {"RadioButton9",  RadioButton1 + 8,  ControlKind::RadioButton, at(24, 224, 505, 25), "RadioButton9",                   gothic15,     yellow, teal,  false},
    {"RadioButton10", RadioButton1 + 9,  ControlKind::RadioButton, at(24, 248, 505, 25), "RadioButton10",                  gothic15,     yellow, teal,  false},
    {"RadioButton11", RadioButton1 + 10, ControlKind::RadioButton, at(24, 272, 505, 25), "RadioButton11",                  gothic15,     yellow, teal,  false},
    {"RadioButton12", RadioButton1 + 11, ControlKind::RadioButton, at(24, 296, 505, 25), "RadioButton12",                  gothic15,     yellow, teal,  false},
    {"RadioButton13", RadioButton1 + 12, ControlKind::RadioButton, at(24, 320, 505, 25), "RadioButton13",                  gothic15,     yellow, teal,  false},
    {"RadioButton14", RadioButton1 + 13, ControlKind::RadioButton, at(24, 344, 505, 17), "RadioButton14",                  gothic15,     yellow, teal,  false},
    {"RadioButton15", RadioButton1 + 14, ControlKind::RadioButton, at(24, 368, 505, 17), "RadioButton15",                  gothic15,     yellow, teal,  false},
    {"RadioButton16", RadioButton1 + 15, ControlKind::RadioButton, at(24, 384, 505, 25), "RadioButton16",                  gothic15,     yellow, teal,  false},
    {"RadioButton17", RadioButton1 + 16, ControlKind::RadioButton, at(24, 408, 505, 25), "RadioButton17",                  gothic15,     yellow, teal,  false},
    {"RadioButton18", RadioButton1 + 17, ControlKind::RadioButton, at(24, 432, 505, 25), "RadioButton18",                  gothic15,     yellow, teal,  false},
    {"RadioButton19", RadioButton1 + 18, ControlKind::RadioButton, at(24, 456, 505, 25), "RadioButton19",                  gothic15,     yellow, teal,  false},
    {"RadioButton20", RadioButton1 + 19, ControlKind::RadioButton, at(24, 480, 505, 25), "RadioButton20",                  gothic15,     yellow, teal,  false},
    {"RadioButton21", RadioButton1 + 20, ControlKind::RadioButton, at(24, 504, 505, 25), "RadioButton21",                  gothic15,     yellow, teal,  false},
    {"RadioButton22", RadioButton1 + 21, ControlKind::RadioButton, at(24, 532, 505, 17), "RadioButton22",                  gothic15,     yellow, teal,  false},
    {"RadioButton23", RadioButton1 + 22, ControlKind::RadioButton, at(24, 552, 505, 25), "RadioButton23",                  gothic15,     yellow, teal,  false},
    {"RadioButton24", RadioButton1 + 23, ControlKind::RadioButton, at(24, 576, 505, 25), "RadioButton24",                  gothic15,     yellow, teal,  false},
    {"RadioButton25", RadioButton1 + 24, ControlKind::RadioButton, at(24, 600, 505, 17), "RadioButton25",                  gothic15,     yellow, teal,  false},
    {"RadioButton26", RadioButton1 + 25, ControlKind::RadioButton, at(24, 624, 505, 25), "RadioButton26",                  gothic15,     yellow, teal,  false},
    {"RadioButton27", RadioButton1 + 26, ControlKind::RadioButton, at(24, 648, 505, 25), "RadioButton27",                  gothic15,     yellow, teal,  false},
    {"RadioButton28", RadioButton1 + 27, ControlKind::RadioButton, at(24, 672, 505, 25), "RadioButton28",                  gothic15,     yellow, teal,  false},
    {"CheckBox1",     CheckBox1,         ControlKind::CheckBox,    at(24, 712, 153, 17),  "Make Text File",                  gothic17Bold, white,  teal,  true},
    {"Edit1",         Edit1,             ControlKind::Edit,        at(280, 712, 361, 23), "Edit1",                           none,         none,   none,  true},
    {"Button4",       Button4,           ControlKind::Button,      at(536, 144, 97, 41),  "再表示",                          gothic20Bold, none,   none,  true},
    {"RichEdit1",     RichEdit1,         ControlKind::RichEdit,    at(504, 248, 145, 449), "RichEdit1",                      none,         none,   none,  true},
}};
// clang-format on

} // namespace

const char* faceName(FontFace face)
{
    return face == FontFace::Gothic ? "ＭＳ Ｐゴシック" : "ＭＳ Ｐ明朝";
}

std::span<const ControlDesign> controls()
{
    return designs;
}

const ControlDesign* find(int id)
{
    for (const ControlDesign& design : controls()) {
        if (design.id == id) {
            return &design;
        }
    }
    return nullptr;
}

int windowFontHeight(int pixelsPerInch)
{
    return MulDiv(designFontHeight, pixelsPerInch, designPixelsPerInch);
}

// MulDiv rounds halves away from zero, exactly as the scaling rule asks.
RECT scaleBounds(const RECT& bounds, int textHeight)
{
    return {MulDiv(bounds.left, textHeight, designFontHeight),
            MulDiv(bounds.top, textHeight, designFontHeight),
            MulDiv(bounds.right, textHeight, designFontHeight),
            MulDiv(bounds.bottom, textHeight, designFontHeight)};
}

int scaleFontHeight(int height, int pixelsPerInch, int textHeight)
{
    const int points = MulDiv(height, 72, pixelsPerInch);
    const int scaledPoints = MulDiv(points, textHeight, designFontHeight);
    return MulDiv(scaledPoints, pixelsPerInch, 72);
}

} // namespace quellan::layout
