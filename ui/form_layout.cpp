#include "form_layout.h"

#include "control_ids.h"

#include <array>
#include <stdexcept>

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

// The option buttons' tops and heights: spaced 24 apart, except after
// 15 (16), 21 (28) and 22 (20).
// clang-format off
constexpr std::array<std::array<int, 2>, 28> radioRows{{
    {32, 17},  {56, 17},  {80, 17},  {104, 17}, {128, 25}, {152, 25}, {176, 25},
    {200, 25}, {224, 25}, {248, 25}, {272, 25}, {296, 25}, {320, 25}, {344, 17},
    {368, 17}, {384, 25}, {408, 25}, {432, 25}, {456, 25}, {480, 25}, {504, 25},
    {532, 17}, {552, 25}, {576, 25}, {600, 17}, {624, 25}, {648, 25}, {672, 25},
}};
// clang-format on

constexpr std::array<const char*, 28> radioPlaceholders{
    "RadioButton1",  "RadioButton2",  "RadioButton3",  "RadioButton4",  "RadioButton5",
    "RadioButton6",  "RadioButton7",  "RadioButton8",  "RadioButton9",  "RadioButton10",
    "RadioButton11", "RadioButton12", "RadioButton13", "RadioButton14", "RadioButton15",
    "RadioButton16", "RadioButton17", "RadioButton18", "RadioButton19", "RadioButton20",
    "RadioButton21", "RadioButton22", "RadioButton23", "RadioButton24", "RadioButton25",
    "RadioButton26", "RadioButton27", "RadioButton28",
};

// clang-format off: one control to a line, as the design lists them
constexpr std::array<ControlDesign, 38> makeDesigns()
{
    std::array<ControlDesign, 38> designs{{
        {Label1, ControlKind::Label, at(184, 712, 91, 17), "FileName =", gothic17Bold, white,
         false},
        {Label2, ControlKind::Label, at(0, 0, 652, 24),
         "Delphi  TDUMP ユーティリティ　QUELLAN.EXE ", mincho23Bold, red, false},
        {Button1, ControlKind::Button, at(536, 96, 97, 41), "実　行", gothic20Bold, std::nullopt,
         true},
        {Button2, ControlKind::Button, at(536, 192, 97, 41), "終　了", gothic20Bold, std::nullopt,
         true},
        {StatusBar1, ControlKind::StatusBar, at(0, 757, 652, statusBarHeight), "", std::nullopt,
         std::nullopt, false},
        {Button3, ControlKind::Button, at(536, 48, 97, 41), "ファイル選択", gothic15Bold,
         std::nullopt, true},
    }};
    for (std::size_t row = 0; row < radioRows.size(); ++row) {
        designs[6 + row] = {RadioButton1 + static_cast<int>(row),
                            ControlKind::RadioButton,
                            at(24, radioRows[row][0], 505, radioRows[row][1]),
                            radioPlaceholders[row],
                            gothic15,
                            yellow,
                            false}; // the tab stop sits on the checked button
    }
    designs[34] = {CheckBox1,
                   ControlKind::CheckBox,
                   at(24, 712, 153, 17),
                   "Make Text File",
                   gothic17Bold,
                   white,
                   true};
    designs[35] = {
        Edit1, ControlKind::Edit, at(280, 712, 361, 23), "Edit1", std::nullopt, std::nullopt, true};
    designs[36] = {Button4,  ControlKind::Button, at(536, 144, 97, 41),
                   "再表示", gothic20Bold,        std::nullopt,
                   true};
    designs[37] = {RichEdit1,   ControlKind::RichEdit, at(504, 248, 145, 449),
                   "RichEdit1", std::nullopt,          std::nullopt,
                   true};
    return designs;
}
// clang-format on

constexpr std::array<ControlDesign, 38> designs = makeDesigns();

} // namespace

const char* faceName(FontFace face)
{
    return face == FontFace::Gothic ? "ＭＳ Ｐゴシック" : "ＭＳ Ｐ明朝";
}

std::span<const ControlDesign> controls()
{
    return designs;
}
// clang-format on

const ControlDesign& control(int id)
{
    for (const ControlDesign& design : controls()) {
        if (design.id == id) {
            return design;
        }
    }
    throw std::out_of_range("no control with id " + std::to_string(id));
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
