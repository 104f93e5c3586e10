#pragma once

// The main window, Form1 of class TForm1: its controls as designed, scaled
// to the screen when created, and the handlers that connect them to the
// dump state and the launcher.

#include "control_scroller.h"
#include "dump_state.h"
#include "gdi.h"
#include "keyboard_navigation.h"
#include "loaded_library.h"
#include "open_dialog.h"
#include "system_code_page.h"
#include "window.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace quellan {

class Application;

class TForm1 : public Window {
public:
    explicit TForm1(Application& application);
    ~TForm1() override;

    const DumpState& dumpState() const { return state_; }

    // Keyboard navigation between the controls (Tab, Shift+Tab, arrows in
    // the option group). True when the message was handled.
    bool preTranslateMessage(const MSG& message) override;

protected:
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void showFailure(std::string_view message) const override;

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

    void onCommand(int id, int notification);
    void onActivate(bool active);
    LRESULT onControlColour(HDC dc, HWND control);

    void createControls();
    HFONT fontFor(int height, bool bold, bool mincho);
    HBRUSH brushFor(COLORREF colour);
    static UniqueFont systemStatusFont();
    HWND item(int id) const;
    std::string text(int id) const;
    // Sets a control's text only when it differs, so an unchanged edit box
    // raises no change event.
    void setText(int id, const std::string& value);
    void checkRadioButton(int row);
    void alignBars();

    Application& application_;
    DumpState state_{systemCodePage()}; // names in the system's code page
    OpenDialog openDialog1_;
    struct CachedFont {
        int height;
        bool bold;
        bool mincho;
        UniqueFont font;
    };
    std::vector<CachedFont> fonts_;
    struct CachedBrush {
        COLORREF colour;
        UniqueBrush brush;
    };
    std::vector<CachedBrush> brushes_;
    UniqueFont statusBarFont_;
    LoadedLibrary richEditLibrary_{"RICHED32.DLL"}; // registers the RICHEDIT class
    std::optional<KeyboardNavigation> navigation_;
    std::optional<ControlScroller> scroller_;
    bool activatedOnce_ = false;
    HWND lastFocus_ = nullptr;
};

} // namespace quellan
