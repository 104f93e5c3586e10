#include "main_window.h"

#include "application.h"
#include "child_process_launcher.h"
#include "control_ids.h"
#include "dump_option_catalogue.h"
#include "exception.h"
#include "form_layout.h"

#include <commctrl.h>

#include <algorithm>
#include <optional>

namespace quellan {
namespace {

using namespace controls;
using layout::ControlDesign;
using layout::ControlKind;

constexpr char formClass[] = "TForm1";

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

constexpr int scrollLine = 16;

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

TForm1::TForm1(Application& application)
    : application_(application), tealBrush_(CreateSolidBrush(layout::teal)),
      whiteBrush_(CreateSolidBrush(layout::white))
{
    INITCOMMONCONTROLSEX commonControls{sizeof commonControls, ICC_BAR_CLASSES};
    InitCommonControlsEx(&commonControls);

    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = application.instance();
    windowClass.hIcon = LoadIconA(application.instance(), MAKEINTRESOURCEA(1));
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    windowClass.hbrBackground = tealBrush_.get();
    windowClass.lpszClassName = formClass;
    RegisterClassExA(&windowClass);

    // Owned by the application window, which carries the task-bar entry.
    // window_ is set as the window is created (WM_NCCREATE).
    HWND created = CreateWindowExA(
        0, formClass, layout::windowCaption, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
        layout::windowPosition.x, layout::windowPosition.y, layout::windowSize.cx,
        layout::windowSize.cy, application.handle(), nullptr, application.instance(), this);
    if (created == nullptr) {
        throw Exception("メインウィンドウを作成できません。");
    }
    createControls();
    onSize();
}

TForm1::~TForm1()
{
    if (window_ != nullptr) {
        DestroyWindow(window_);
    }
    UnregisterClassA(formClass, application_.instance());
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
                                       bounds.bottom - bounds.top, window_,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(design.id)),
                                       application_.instance(), nullptr);
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

    // The scroll bars cover every control that is not aligned to an edge,
    // and the status bar's height below them.
    for (const ControlDesign& design : layout::controls()) {
        if (design.id != Label2 && design.id != StatusBar1) {
            const RECT bounds = windowRectInParent(item(design.id));
            extent_.cx = std::max(extent_.cx, bounds.right);
            extent_.cy = std::max(extent_.cy, bounds.bottom);
        }
    }
    extent_.cy += layout::statusBarHeight;
}

// ---------------------------------------------------------------------------
// Message dispatch

LRESULT CALLBACK TForm1::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* self = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<TForm1*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
        return DefWindowProcA(window, message, wParam, lParam);
    }
    return guardedCall(self->application_,
                       [&] { return self->handleMessage(message, wParam, lParam); });
}

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
        onSize();
        return 0;
    case WM_HSCROLL:
        onScroll(SB_HORZ, LOWORD(wParam));
        return 0;
    case WM_VSCROLL:
        onScroll(SB_VERT, LOWORD(wParam));
        return 0;
    case WM_MOUSEWHEEL:
        onScroll(SB_VERT, GET_WHEEL_DELTA_WPARAM(wParam) > 0 ? SB_LINEUP : SB_LINEDOWN);
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
        DestroyWindow(window_);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window_, message, wParam, lParam);
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
        if (focus != nullptr && IsChild(window_, focus)) {
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
    SetFocus(canRefocus ? lastFocus_ : window_);
}

LRESULT TForm1::onControlColour(HDC dc, HWND control)
{
    const int id = GetDlgCtrlID(control);
    const bool painted = id == Label1 || id == Label2 || id == CheckBox1 || isRadioButton(id);
    if (!painted) {
        return DefWindowProcA(window_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                              reinterpret_cast<LPARAM>(control));
    }
    const ControlDesign& design = layout::control(id);
    SetTextColor(dc, *design.textColour);
    const bool banner = id == Label2;
    SetBkColor(dc, banner ? layout::white : layout::teal);
    return reinterpret_cast<LRESULT>(banner ? whiteBrush_.get() : tealBrush_.get());
}

// ---------------------------------------------------------------------------
// Keyboard navigation

bool TForm1::isDialogKey(const MSG& message)
{
    if (message.message != WM_KEYDOWN || window_ == nullptr ||
        (message.hwnd != window_ && !IsChild(window_, message.hwnd))) {
        return false;
    }
    const bool control = GetKeyState(VK_CONTROL) < 0;
    const bool alt = GetKeyState(VK_MENU) < 0;
    if (message.wParam == VK_TAB && !control && !alt) {
        moveFocus(GetKeyState(VK_SHIFT) < 0);
        return true;
    }
    const int focusId = GetDlgCtrlID(GetFocus());
    if (isRadioButton(focusId) && !control && !alt) {
        int step = 0;
        switch (message.wParam) {
        case VK_UP:
        case VK_LEFT:
            step = -1;
            break;
        case VK_DOWN:
        case VK_RIGHT:
            step = 1;
            break;
        default:
            return false;
        }
        const int row = (radioRow(focusId) - 1 + step + 28) % 28 + 1;
        // A click, so the check, the tab stop and the handler follow as with the mouse.
        SendMessageA(item(radioButton(row)), BM_CLICK, 0, 0);
        return true;
    }
    return false;
}

void TForm1::moveFocus(bool backwards)
{
    std::vector<HWND> sequence;
    for (const ControlDesign& design : layout::controls()) {
        HWND control = item(design.id);
        const bool tabStop = (GetWindowLongA(control, GWL_STYLE) & WS_TABSTOP) != 0;
        if (tabStop && IsWindowEnabled(control) && IsWindowVisible(control)) {
            sequence.push_back(control);
        }
    }
    if (sequence.empty()) {
        return;
    }
    const auto current = std::find(sequence.begin(), sequence.end(), GetFocus());
    HWND next = nullptr;
    if (current == sequence.end()) {
        next = backwards ? sequence.back() : sequence.front();
    } else if (backwards) {
        next = current == sequence.begin() ? sequence.back() : *(current - 1);
    } else {
        next = current + 1 == sequence.end() ? sequence.front() : *(current + 1);
    }
    SetFocus(next);
    if (next == item(Edit1)) {
        SendMessageA(next, EM_SETSEL, 0, -1); // the whole name, ready to be typed over
    }
}

// ---------------------------------------------------------------------------
// Geometry: the banner along the top, the status bar along the bottom, and
// scroll bars when the client area is smaller than the controls' extent.

void TForm1::onSize()
{
    if (item(StatusBar1) == nullptr) {
        return; // still being created
    }
    updateScrollRange();
    alignBars();
}

void TForm1::alignBars()
{
    RECT client;
    GetClientRect(window_, &client);
    HWND banner = item(Label2);
    const RECT bannerBounds = windowRectInParent(banner);
    SetWindowPos(banner, nullptr, 0, 0, client.right, bannerBounds.bottom - bannerBounds.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(item(StatusBar1), nullptr, 0, client.bottom - layout::statusBarHeight,
                 client.right, layout::statusBarHeight, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm1::updateScrollRange()
{
    if (updatingScrollRange_) {
        return; // showing or hiding a bar resizes the client area again
    }
    updatingScrollRange_ = true;
    // Showing one bar narrows the client area and may make the other needed.
    for (int pass = 0; pass < 3; ++pass) {
        RECT before;
        GetClientRect(window_, &before);
        for (const int bar : {SB_HORZ, SB_VERT}) {
            SCROLLINFO info{};
            info.cbSize = sizeof info;
            info.fMask = SIF_RANGE | SIF_PAGE;
            info.nMax = (bar == SB_HORZ ? extent_.cx : extent_.cy) - 1;
            info.nPage = static_cast<UINT>(bar == SB_HORZ ? before.right : before.bottom);
            SetScrollInfo(window_, bar, &info, TRUE);
        }
        RECT after;
        GetClientRect(window_, &after);
        if (EqualRect(&before, &after)) {
            break;
        }
    }
    updatingScrollRange_ = false;
    scrollTo(GetScrollPos(window_, SB_HORZ), GetScrollPos(window_, SB_VERT));
}

void TForm1::onScroll(int bar, int request)
{
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    GetScrollInfo(window_, bar, &info);
    int position = info.nPos;
    const int page = static_cast<int>(info.nPage);
    switch (request) {
    case SB_LINEUP:
        position -= scrollLine;
        break;
    case SB_LINEDOWN:
        position += scrollLine;
        break;
    case SB_PAGEUP:
        position -= page;
        break;
    case SB_PAGEDOWN:
        position += page;
        break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
        position = info.nTrackPos;
        break;
    case SB_TOP:
        position = info.nMin;
        break;
    case SB_BOTTOM:
        position = info.nMax;
        break;
    default:
        return;
    }
    info.fMask = SIF_POS;
    info.nPos = position;
    SetScrollInfo(window_, bar, &info, TRUE); // clamps to the range
    scrollTo(GetScrollPos(window_, SB_HORZ), GetScrollPos(window_, SB_VERT));
}

void TForm1::scrollTo(int x, int y)
{
    if (x == scroll_.x && y == scroll_.y) {
        return;
    }
    ScrollWindowEx(window_, scroll_.x - x, scroll_.y - y, nullptr, nullptr, nullptr, nullptr,
                   SW_SCROLLCHILDREN | SW_INVALIDATE | SW_ERASE);
    scroll_ = {x, y};
    alignBars(); // the bars keep to their edges
}

// ---------------------------------------------------------------------------
// Helpers

HWND TForm1::item(int id) const
{
    return GetDlgItem(window_, id);
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
    const RedrawSuspended drawOnce(window_);
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
    if (!openDialog1_.execute(application_.handle(), window_)) {
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
    PostMessageA(window_, WM_CLOSE, 0, 0);
}

} // namespace quellan
