#include "main_window.h"

#include "application.h"
#include "child_process_launcher.h"
#include "control_ids.h"
#include "dump_option_catalogue.h"
#include "exception.h"
#include "form_layout.h"
#include "resources.h"

#include <commctrl.h>

#include <algorithm>

namespace quellan {
namespace {

using namespace controls;
using layout::ControlDesign;
using layout::ControlKind;

// Nine lines joined by CR LF; lines 6 and 7 begin with an ideographic space.
// clang-format off
constexpr char usageText[] =
    " *** 使用法 ***\r\n"
    "\r\n"
    "1.[ファイル選択]でダンプしたいファイルを選択する。\r\n"
    "2.ダンプ・モードをラジオボタンで選定する。\r\n"
    "3.[実行]をクリックするとQUELLAN.EXE が実行される。\r\n"
    "　※チェックボックスにチェックを付けて、ファイル名を指定してあるとダンプ結果をメモ帖で自動的に開かれる。"
    "（ファイル長が長い場合、自動的にワードパットに切り替わる。\r\n"
    "　※指定ファイル名は、必要により変更可能。\r\n"
    "4.[再表示]でダンプ結果を再表示する。\r\n"
    "5.[終了]で終わる。";
// clang-format on

std::string currentDirectory()
{
    const DWORD size = GetCurrentDirectoryA(0, nullptr);
    std::string directory(size, '\0');
    const DWORD length = GetCurrentDirectoryA(size, directory.data());
    directory.resize(std::min(length, size));
    return directory;
}

struct WindowStyle {
    const char* className;
    DWORD style;
    DWORD exStyle;
};

WindowStyle styleFor(const ControlDesign& design)
{
    constexpr DWORD common = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    const DWORD tabStop = design.tabStop ? WS_TABSTOP : 0;
    // Every control but the option buttons closes a group, so the arrow keys
    // move only within the option buttons.
    const DWORD group = WS_GROUP;
    switch (design.kind) {
    case ControlKind::Label:
        return {"STATIC", common | SS_NOPREFIX | (design.id == Label2 ? SS_CENTER : SS_LEFT), 0};
    case ControlKind::Button:
        return {"BUTTON", common | group | tabStop | BS_PUSHBUTTON, 0};
    case ControlKind::StatusBar:
        // Sized by the window, not by itself: its height stays 34 pixels.
        return {STATUSCLASSNAMEA, common | SBARS_SIZEGRIP | CCS_NORESIZE | CCS_NOPARENTALIGN, 0};
    case ControlKind::RadioButton:
        return {"BUTTON", common | (design.id == RadioButton1 ? group : 0) | BS_RADIOBUTTON, 0};
    case ControlKind::CheckBox:
        return {"BUTTON", common | group | tabStop | BS_AUTOCHECKBOX, 0};
    case ControlKind::Edit:
        return {"EDIT", common | group | tabStop | ES_LEFT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case ControlKind::RichEdit:
        return {"RICHEDIT",
                common | group | tabStop | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL,
                WS_EX_CLIENTEDGE};
    }
    return {"STATIC", common, 0};
}

// Suspends a window's drawing while many of its controls change, then
// draws it once. Each caption set on a visible button would otherwise be
// drawn on its own.
class RedrawSuspended {
public:
    explicit RedrawSuspended(HWND window) : window_(window)
    {
        SendMessageA(window_, WM_SETREDRAW, FALSE, 0);
    }
    RedrawSuspended(const RedrawSuspended&) = delete;
    RedrawSuspended& operator=(const RedrawSuspended&) = delete;
    ~RedrawSuspended()
    {
        SendMessageA(window_, WM_SETREDRAW, TRUE, 0);
        RedrawWindow(window_, nullptr, nullptr,
                     RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
    }

private:
    HWND window_;
};

RECT windowRectInParent(HWND control)
{
    RECT bounds;
    GetWindowRect(control, &bounds);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&bounds), 2);
    return bounds;
}

} // namespace

TForm1::TForm1(Application& application) : application_(application)
{
    INITCOMMONCONTROLSEX commonControls{sizeof commonControls, ICC_BAR_CLASSES};
    InitCommonControlsEx(&commonControls);

    // Owned by the application window, which carries the task-bar entry.
    WindowShape shape;
    shape.style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    shape.position = layout::windowPosition;
    shape.size = layout::windowSize;
    shape.owner = application.handle();
    const WindowClass formClass{
        "TForm1", CS_DBLCLKS,
        LoadIconA(application.instance(), MAKEINTRESOURCEA(QUELLAN_MAIN_ICON)), layout::teal};
    create(application.instance(), formClass, layout::windowCaption, shape,
           "メインウィンドウを作成できません。");
    try {
        createControls();
    } catch (...) {
        // No destructor runs for a half-made form: its window and controls
        // must still go before the fonts and the library they use.
        destroy();
        throw;
    }
}

TForm1::~TForm1()
{
    // The window and its controls go before the fonts and brushes they use.
    destroy();
}

// ---------------------------------------------------------------------------
// Creation and scaling

HFONT TForm1::fontFor(int height, bool bold, bool mincho)
{
    for (const CachedFont& cached : fonts_) {
        if (cached.height == height && cached.bold == bold && cached.mincho == mincho) {
            return cached.font.get();
        }
    }
    LOGFONTA font{};
    font.lfHeight = -height; // a character height, not a cell height
    font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    font.lfCharSet = SHIFTJIS_CHARSET;
    font.lfOutPrecision = OUT_DEFAULT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = DEFAULT_QUALITY;
    font.lfPitchAndFamily = DEFAULT_PITCH;
    lstrcpynA(font.lfFaceName,
              layout::faceName(mincho ? layout::FontFace::Mincho : layout::FontFace::Gothic),
              LF_FACESIZE);
    fonts_.push_back({height, bold, mincho, UniqueFont(CreateFontIndirectA(&font))});
    return fonts_.back().font.get();
}

HBRUSH TForm1::brushFor(COLORREF colour)
{
    for (const CachedBrush& cached : brushes_) {
        if (cached.colour == colour) {
            return cached.brush.get();
        }
    }
    brushes_.push_back({colour, UniqueBrush(CreateSolidBrush(colour))});
    return brushes_.back().brush.get();
}

UniqueFont TForm1::systemStatusFont()
{
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    return UniqueFont(CreateFontIndirectA(&metrics.lfStatusFont));
}

void TForm1::createControls()
{
    // The design is drawn for 120 pixels per inch with a 15-pixel font whose
    // "0" is 15 pixels high. The screen's font height is measured, not
    // assumed: a substituted face can draw "0" taller or shorter.
    const WindowDC screen(nullptr);
    const int pixelsPerInch = GetDeviceCaps(screen.get(), LOGPIXELSY);
    HFONT windowFont = fontFor(layout::windowFontHeight(pixelsPerInch), false, false);
    SIZE zero{};
    {
        const SelectedObject selected(screen.get(), windowFont);
        GetTextExtentPoint32A(screen.get(), "0", 1, &zero);
    }
    const int textHeight = static_cast<int>(zero.cy);
    const bool scaled = textHeight != layout::designFontHeight;
    statusBarFont_ = systemStatusFont();

    for (const ControlDesign& design : layout::controls()) {
        const bool statusBar = design.kind == ControlKind::StatusBar;
        const RECT bounds =
            scaled && !statusBar ? layout::scaleBounds(design.bounds, textHeight) : design.bounds;
        const WindowStyle style = styleFor(design);
        HWND control = CreateWindowExA(style.exStyle, style.className, design.caption, style.style,
                                       bounds.left, bounds.top, bounds.right - bounds.left,
                                       bounds.bottom - bounds.top, handle(),
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(design.id)),
                                       application_.instance(), nullptr);
        if (control == nullptr) {
            // A window without one of its controls would only mislead.
            throw Exception(std::string("コントロール ") + design.name + " (" + style.className +
                            ") を作成できません。");
        }
        // A later control lies above an earlier one where they overlap: the
        // text box covers the right ends of the lower option buttons.
        SetWindowPos(control, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

        HFONT font = windowFont;
        if (statusBar) {
            font = statusBarFont_.get();
        } else if (design.font) {
            const int height =
                scaled ? layout::scaleFontHeight(design.font->height, pixelsPerInch, textHeight)
                       : design.font->height;
            font =
                fontFor(height, design.font->bold, design.font->face == layout::FontFace::Mincho);
        }
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }

    SendMessageA(item(StatusBar1), SB_SIMPLE, TRUE, 0);
    SendMessageA(item(CheckBox1), BM_SETCHECK, BST_CHECKED, 0);
    checkRadioButton(DumpOptionCatalogue::defaultRow);

    // Label1 sizes itself to its caption, keeping its left and top edges.
    HWND label = item(Label1);
    const WindowDC labelDc(label);
    const SelectedObject selected(labelDc.get(),
                                  reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0)));
    RECT textBounds{};
    const std::string caption = text(Label1);
    DrawTextA(labelDc.get(), caption.c_str(), static_cast<int>(caption.size()), &textBounds,
              DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    SetWindowPos(label, nullptr, 0, 0, textBounds.right, textBounds.bottom,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    std::vector<int> tabOrder;
    for (const ControlDesign& design : layout::controls()) {
        tabOrder.push_back(design.id);
    }
    navigation_.emplace(handle(), std::move(tabOrder), radioButton(1),
                        radioButton(DumpOptionCatalogue::rowCount));

    // The scroll bars cover every control that is not aligned to an edge,
    // and the status bar's height below them.
    SIZE extent{};
    for (const ControlDesign& design : layout::controls()) {
        if (design.id != Label2 && design.id != StatusBar1) {
            const RECT bounds = windowRectInParent(item(design.id));
            extent.cx = std::max(extent.cx, bounds.right);
            extent.cy = std::max(extent.cy, bounds.bottom);
        }
    }
    extent.cy += layout::statusBarHeight;
    scroller_.emplace(handle(), [this] { alignBars(); });
    scroller_->setContent(extent, {item(Label2), item(StatusBar1)});
}

// ---------------------------------------------------------------------------
// Message dispatch

LRESULT TForm1::handleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        onCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_ACTIVATE:
        if (HIWORD(wParam) == 0) { // not while minimised
            onActivate(LOWORD(wParam) != WA_INACTIVE);
            return 0;
        }
        break;
    case WM_CTLCOLORSTATIC:
        return onControlColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_SIZE:
        if (scroller_) { // not while the controls are being created
            scroller_->onSize();
        }
        return 0;
    case WM_HSCROLL:
    case WM_VSCROLL:
        if (scroller_) {
            scroller_->onScroll(message == WM_HSCROLL ? SB_HORZ : SB_VERT, LOWORD(wParam));
        }
        return 0;
    case WM_MOUSEWHEEL:
        if (scroller_) {
            scroller_->onWheel(GET_WHEEL_DELTA_WPARAM(wParam));
        }
        return 0;
    case WM_SETTINGCHANGE: {
        // The status bar follows the system's status-bar font; the old font
        // is deleted only once the bar has let go of it.
        UniqueFont font = systemStatusFont();
        SendMessageA(item(StatusBar1), WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
        statusBarFont_ = std::move(font);
        break;
    }
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_MINIMIZE) {
            application_.minimize();
            return 0;
        }
        break;
    case WM_CLOSE:
        DestroyWindow(handle());
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return Window::handleMessage(message, wParam, lParam);
}

void TForm1::showFailure(std::string_view message) const
{
    application_.showException(message);
}

bool TForm1::preTranslateMessage(const MSG& message)
{
    return navigation_ && navigation_->handle(message);
}

// Which handler each control's notification runs.
void TForm1::onCommand(int id, int notification)
{
    if (isRadioButton(id)) {
        if (notification == BN_CLICKED) {
            RadioButtonClick(radioRow(id));
        }
        return;
    }
    struct Route {
        int control;
        int notification;
        void (TForm1::*handler)();
    };
    static constexpr Route routes[] = {
        {Button1, BN_CLICKED, &TForm1::Button1Click},
        {Button2, BN_CLICKED, &TForm1::Button2Click},
        {Button3, BN_CLICKED, &TForm1::SelectFile},
        {Button4, BN_CLICKED, &TForm1::Button4Click},
        {CheckBox1, BN_CLICKED, &TForm1::CheckBox1Click},
        {Edit1, EN_CHANGE, &TForm1::Edit1Change},
    };
    for (const Route& route : routes) {
        if (route.control == id && route.notification == notification) {
            (this->*route.handler)();
            return;
        }
    }
}

void TForm1::onActivate(bool active)
{
    if (!active) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(handle(), focus)) {
            lastFocus_ = focus;
        }
        return;
    }
    if (!activatedOnce_) {
        // Initialisation runs on the first activation only. The first
        // control in the tab order takes the focus first, as it would in any
        // form; Form1Create then disables it.
        activatedOnce_ = true;
        lastFocus_ = item(Button1);
        SetFocus(lastFocus_);
        Form1Create();
    }
    const bool canRefocus = lastFocus_ != nullptr && IsWindow(lastFocus_) &&
                            IsWindowEnabled(lastFocus_) && IsWindowVisible(lastFocus_);
    SetFocus(canRefocus ? lastFocus_ : handle());
}

// The colours come from the layout's row for the control.
LRESULT TForm1::onControlColour(HDC dc, HWND control)
{
    const ControlDesign* design = layout::find(GetDlgCtrlID(control));
    if (design == nullptr || !design->textColour || !design->background) {
        return Window::handleMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                     reinterpret_cast<LPARAM>(control));
    }
    SetTextColor(dc, *design->textColour);
    SetBkColor(dc, *design->background);
    return reinterpret_cast<LRESULT>(brushFor(*design->background));
}

// The banner along the top and the status bar along the bottom of the
// client area, wherever the controls are scrolled.
void TForm1::alignBars()
{
    RECT client;
    GetClientRect(handle(), &client);
    HWND banner = item(Label2);
    const RECT bannerBounds = windowRectInParent(banner);
    SetWindowPos(banner, nullptr, 0, 0, client.right, bannerBounds.bottom - bannerBounds.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(item(StatusBar1), nullptr, 0, client.bottom - layout::statusBarHeight,
                 client.right, layout::statusBarHeight, SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---------------------------------------------------------------------------
// Helpers

HWND TForm1::item(int id) const
{
    return GetDlgItem(handle(), id);
}

std::string TForm1::text(int id) const
{
    HWND control = item(id);
    std::string value(static_cast<std::size_t>(GetWindowTextLengthA(control)) + 1, '\0');
    const int length = GetWindowTextA(control, value.data(), static_cast<int>(value.size()));
    value.resize(static_cast<std::size_t>(std::max(length, 0)));
    return value;
}

void TForm1::setText(int id, const std::string& value)
{
    if (text(id) != value) {
        SetWindowTextA(item(id), value.c_str());
    }
}

void TForm1::checkRadioButton(int row)
{
    // One button of the group is checked, and it alone is a tab stop.
    for (int other = 1; other <= DumpOptionCatalogue::rowCount; ++other) {
        HWND button = item(radioButton(other));
        const bool checked = other == row;
        SendMessageA(button, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
        const LONG style = GetWindowLongA(button, GWL_STYLE);
        SetWindowLongA(button, GWL_STYLE, checked ? style | WS_TABSTOP : style & ~WS_TABSTOP);
    }
}

// ---------------------------------------------------------------------------
// Handlers

void TForm1::Form1Create()
{
    const RedrawSuspended drawOnce(handle());
    for (const DumpOption& option : DumpOptionCatalogue()) {
        SetWindowTextA(item(radioButton(option.row)),
                       DumpOptionCatalogue::caption(option.row).c_str());
    }
    const std::string proposedListFile = state_.initialise(currentDirectory());
    EnableWindow(item(Label1), TRUE);
    EnableWindow(item(Edit1), TRUE);
    setText(Edit1, proposedListFile); // runs Edit1Change
    EnableWindow(item(Button1), FALSE);
    EnableWindow(item(Button4), FALSE);
    SetWindowTextA(item(RichEdit1), usageText);
}

void TForm1::SelectFile()
{
    openDialog1_.title = "Select TDump File";
    openDialog1_.filter = "全てのファイル(*.*)|*.*|テキストファイル(*.txt)|*.txt";
    if (!openDialog1_.execute(application_.handle(), handle())) {
        return;
    }
    const std::string status = state_.setInputFile(openDialog1_.fileName);
    SendMessageA(item(StatusBar1), SB_SETTEXTA, SB_SIMPLEID,
                 reinterpret_cast<LPARAM>(status.c_str()));
    EnableWindow(item(Button1), TRUE);
}

void TForm1::RadioButtonClick(int row)
{
    checkRadioButton(row);
    state_.selectSwitch(row);
}

void TForm1::CheckBox1Click()
{
    const bool ticked = SendMessageA(item(CheckBox1), BM_GETCHECK, 0, 0) == BST_CHECKED;
    const std::optional<std::string> proposedListFile = state_.setMakeTextFile(ticked);
    EnableWindow(item(Label1), ticked);
    if (proposedListFile) {
        setText(Edit1, *proposedListFile); // runs Edit1Change
    }
    EnableWindow(item(Edit1), ticked);
}

void TForm1::Edit1Change()
{
    state_.setListFileName(text(Edit1));
}

void TForm1::Button1Click()
{
    const std::string interpreter = ChildProcessLauncher::interpreterPath();
    const std::string command = state_.composeDumpCommand(interpreter);
    // The window does not respond until the dump has ended.
    ChildProcessLauncher::runAndWait(command);
    Button4Click();
    EnableWindow(item(Button4), TRUE);
}

void TForm1::Button4Click()
{
    if (const std::optional<std::string> viewer = state_.composeViewerCommand()) {
        ChildProcessLauncher::startDetached(*viewer);
    }
}

void TForm1::Button2Click()
{
    PostMessageA(handle(), WM_CLOSE, 0, 0);
}

} // namespace quellan
