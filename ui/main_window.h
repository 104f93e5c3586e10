#pragma once

// The main window, Form1 of class TForm1: its controls as designed, scaled
// to the screen when created, and the handlers that connect them to the
// dump state and the launcher.

#include "dump_state.h"
#include "gdi.h"
#include "loaded_library.h"
#include "open_dialog.h"

#include <windows.h>

#include <string>
#include <vector>

namespace quellan {

class Application;

class TForm1 {
public:
    explicit TForm1(Application& application);
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;
    ~TForm1();

    HWND handle() const { return window_; }
    const DumpState& dumpState() const { return state_; }

    // Keyboard navigation between the controls (Tab, Shift+Tab, arrows in
    // the option group). True when the message was handled.
    bool isDialogKey(const MSG& message);

private:
    // The handlers, named after control and event.
    void Form1Create();
    void SelectFile();
    void RadioButtonClick(int row); // RadioButton1Click..RadioButton28Click
    void CheckBox1Click();
    void Edit1Change();
    void Button1Click();
    void Button4Click();
    void Button2Click();

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void onCommand(int id, int notification);
    void onActivate(bool active);
    LRESULT onControlColour(HDC dc, HWND control);
    void onSize();
    void onScroll(int bar, int request);
    void moveFocus(bool backwards);

    void createControls();
    HFONT fontFor(int height, bool bold, bool mincho);
    static UniqueFont systemStatusFont();
    HWND item(int id) const;
    std::string text(int id) const;
    // Sets a control's text only when it differs, so an unchanged edit box
    // raises no change event.
    void setText(int id, const std::string& value);
    void checkRadioButton(int row);
    void alignBars();
    void updateScrollRange();
    void scrollTo(int x, int y);

    Application& application_;
    DumpState state_;
    OpenDialog openDialog1_;
    HWND window_ = nullptr;
    UniqueBrush tealBrush_;
    UniqueBrush whiteBrush_;
    struct CachedFont {
        int height;
        bool bold;
        bool mincho;
        UniqueFont font;
    };
    std::vector<CachedFont> fonts_;
    UniqueFont statusBarFont_;
    LoadedLibrary richEditLibrary_{"RICHED32.DLL"}; // registers the RICHEDIT class
    SIZE extent_{};  // the controls' extent, which the scroll bars cover
    POINT scroll_{}; // how far the controls are scrolled
    bool updatingScrollRange_ = false;
    bool activatedOnce_ = false;
    HWND lastFocus_ = nullptr;
};

} // namespace quellan
