#pragma once

// The main window's design: every control in creation order with its
// rectangle, caption, font and colours as drawn for 120 pixels per inch, and
// the rule that scales it to the screen.

#include <windows.h>

#include <optional>
#include <span>
#include <string>

namespace quellan::layout {

enum class ControlKind { Label, Button, StatusBar, RadioButton, CheckBox, Edit, RichEdit };
enum class FontFace { Gothic, Mincho };

struct FontDesign {
    FontFace face;
    int height; // character height in pixels at 120 pixels per inch
    bool bold;
};

struct ControlDesign {
    const char* name; // as failures name it
    int id;
    ControlKind kind;
    RECT bounds; // left, top, right, bottom
    const char* caption;
    std::optional<FontDesign> font;     // none: the window's font
    std::optional<COLORREF> textColour; // set where the window paints the text
    std::optional<COLORREF> background; // likewise
    bool tabStop;
};

constexpr COLORREF teal = RGB(0, 128, 128);
constexpr COLORREF yellow = RGB(255, 255, 0);
constexpr COLORREF white = RGB(255, 255, 255);
constexpr COLORREF red = RGB(255, 0, 0);

constexpr int designPixelsPerInch = 120;
constexpr int designFontHeight = 15; // the window's font, and the height of "0" in it
constexpr int statusBarHeight = 34;  // never scaled: the bar keeps its system font

constexpr POINT windowPosition{247, 134};
constexpr SIZE windowSize{660, 823};
constexpr char windowCaption[] = "Quellan.exe Ver 1.1 1999.12";

// The two face names are written in full-width letters.
const char* faceName(FontFace face);

// Every control in creation order; tab order is this order too.
std::span<const ControlDesign> controls();
// The row of the control with identifier id; nullptr for none.
const ControlDesign* find(int id);

// The window's font height for a screen: 15 pixels at 120 pixels per inch.
int windowFontHeight(int pixelsPerInch);

// Scales a control's edges by textHeight / 15, each rounded, halves away
// from zero; width and height follow as differences.
RECT scaleBounds(const RECT& bounds, int textHeight);

// Rescales a font of its own through its point size.
int scaleFontHeight(int height, int pixelsPerInch, int textHeight);

} // namespace quellan::layout
