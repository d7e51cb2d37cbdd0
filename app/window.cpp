#include "app/window.h"

#include "app/controls.h"
#include "app/countdown.h"
#include "app/handlers.h"
#include "app/program.h"
#include "app/resource.h"
#include "server/server.h"
#include "settings/settings.h"
#include "util/handle.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <vector>

namespace {

using Handler = void (*)();

enum class Kind { Label, Link, Timer, Button, CheckBox, Edit, GroupBox };
enum class Font { Gui, Countdown };

struct ControlEntry {
    Ctl name;
    Kind kind;
    bool inGroupBox;  // parent is 分组框1, else the window
    int x, y, width, height;
    const wchar_t* text;
    COLORREF colour;
    DWORD style;
    DWORD exStyle;
    Font font;
    Handler onClick;
    Handler onGotFocus;
    Handler onLostFocus;
    Handler onLeftButton;
    Handler onTick;
};

constexpr DWORD kButtonStyle = BS_PUSHBUTTON | BS_CENTER | BS_VCENTER | BS_MULTILINE | WS_TABSTOP;
constexpr COLORREF kRed = 0x0000FF, kBlue = 0xFF0000, kGrey = 0x808080, kBlack = 0x000000, kMagenta = 0xFF00FF;
constexpr int kTimerPeriod = 1000;
constexpr wchar_t kLinkAddress[] = L"https://memcached.org/";

// The whole window, in stacking order: first on top among the children of one parent.
// clang-format off
const std::array<ControlEntry, kControlCount> kLayout = {{
    {Ctl::透明标签3, Kind::Label, false, 16, 168, 224, 42,
     L"本程序开机自启后30秒不动会自动关闭\r\n\r\n且它的关闭与否不影响Memcached", kGrey, LS_MULTILINE_CENTRED, WS_EX_TRANSPARENT, Font::Gui},
    {Ctl::透明标签4, Kind::Label, false, 3, 241, 248, 37, L"", kRed, LS_MULTILINE_CENTRED, WS_EX_TRANSPARENT, Font::Countdown,
     nullptr, nullptr, nullptr, CancelAutoClose},
    {Ctl::分组框1, Kind::GroupBox, false, 0, -1, 256, 161, L"", kBlack, BS_GROUPBOX, 0, Font::Gui},
    {Ctl::时钟1, Kind::Timer, true, 224, 41, 32, 40, L"", 0, 0, 0, Font::Gui,
     nullptr, nullptr, nullptr, nullptr, OnTimerTick},
    {Ctl::按钮2, Kind::Button, true, 139, 82, 75, 34, L"停止Memcached", 0, kButtonStyle, 0, Font::Gui,
     OnStopButtonClicked},
    {Ctl::按钮1, Kind::Button, true, 18, 82, 104, 34, L"启动Or重启Memcached", 0, kButtonStyle, 0, Font::Gui,
     OnStartButtonClicked},
    {Ctl::透明标签2, Kind::Label, true, 9, 125, 233, 24, L"", kRed, LS_MULTILINE_CENTRED, WS_EX_TRANSPARENT, Font::Gui},
    {Ctl::选择框1, Kind::CheckBox, true, 10, 55, 222, 17, L"开机自动运行memcached并隐藏界面", 0,
     BS_AUTOCHECKBOX | BS_LEFT | BS_VCENTER | BS_MULTILINE | WS_TABSTOP, 0, Font::Gui, OnAutoRunBoxClicked},
    {Ctl::编辑框1, Kind::Edit, true, 164, 25, 40, 18, L"256", 0,
     ES_CENTER | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 0, Font::Gui,
     nullptr, OnCacheSizeGotFocus, OnCacheSizeLostFocus},
    {Ctl::透明标签1, Kind::Label, true, 11, 26, 208, 16, L"memcached 最大的缓存配置:        M", kBlack, 0, WS_EX_TRANSPARENT, Font::Gui},
    {Ctl::超级链接框1, Kind::Link, false, 51, 220, 152, 14, L"memcached.org", kBlue, 0, 0, Font::Gui},
    {Ctl::编辑框__, Kind::Edit, false, 336, 8, 32, 16, L"", 0, ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP,
     WS_EX_CLIENTEDGE, Font::Gui},
}};
// clang-format on

HWND mainWindow = nullptr;
std::array<HWND, kControlCount> controls{};
UniqueGdiObject countdownFont;
HWND focusBeforeDeactivation = nullptr;
// The standard procedures of the two subclassed controls, which get every message
// the subclass does not take.
WNDPROC groupBoxBaseProc = nullptr;
WNDPROC integerEditBaseProc = nullptr;
// Zero while the window is being built and from the moment the program begins to end.
volatile LONG eventsEnabled = 0;

const ControlEntry& EntryOf(Ctl c) { return kLayout[static_cast<size_t>(c)]; }

const ControlEntry* EntryById(int id) {
    int index = id - ControlId(Ctl::透明标签3);
    if (index < 0 || index >= kControlCount) return nullptr;
    return &kLayout[static_cast<size_t>(index)];
}

void Raise(Handler handler) {
    if (handler && EventsEnabled()) handler();
}

// Child notifications arrive at the window or, for the controls inside it, at the
// group box; both hand them here.
void OnControlNotification(int id, int code) {
    const ControlEntry* entry = EntryById(id);
    if (!entry) return;
    switch (entry->kind) {
    case Kind::Button:
    case Kind::CheckBox:
        if (code == BN_CLICKED) Raise(entry->onClick);
        break;
    case Kind::Edit:
        if (code == EN_SETFOCUS) Raise(entry->onGotFocus);
        if (code == EN_KILLFOCUS) Raise(entry->onLostFocus);
        break;
    case Kind::Timer:
        if (code == TN_TICK) Raise(entry->onTick);
        break;
    default:
        break;
    }
}

bool IsTabStop(HWND control) {
    return control && (::GetWindowLongPtrW(control, GWL_STYLE) & WS_TABSTOP) && ::IsWindowVisible(control) &&
           ::IsWindowEnabled(control);
}

// Tab stops in Tab order: all share tab number 0, so the order is the layout's,
// read from its end.
std::vector<HWND> TabOrder() {
    std::vector<HWND> order;
    for (auto entry = kLayout.rbegin(); entry != kLayout.rend(); ++entry) {
        HWND control = controls[static_cast<size_t>(entry->name)];
        if (IsTabStop(control)) order.push_back(control);
    }
    return order;
}

void FocusControl(HWND control, bool selectText) {
    ::SetFocus(control);
    wchar_t className[16] = {};
    ::GetClassNameW(control, className, static_cast<int>(std::size(className)));
    if (selectText && ::lstrcmpiW(className, L"Edit") == 0) ::SendMessageW(control, EM_SETSEL, 0, -1);
}

void MoveFocus(bool forward) {
    std::vector<HWND> order = TabOrder();
    if (order.empty()) return;
    auto current = std::find(order.begin(), order.end(), ::GetFocus());
    size_t next;
    if (current == order.end())
        next = forward ? 0 : order.size() - 1;
    else {
        size_t at = static_cast<size_t>(current - order.begin());
        next = forward ? (at + 1) % order.size() : (at + order.size() - 1) % order.size();
    }
    FocusControl(order[next], true);
}

bool KeyDown(int key) { return (::GetKeyState(key) & 0x8000) != 0; }

// The window's keyboard rules. Answers true when the key was consumed.
bool HandleWindowKey(const MSG& msg) {
    if (msg.message != WM_KEYDOWN || !mainWindow) return false;
    if (msg.hwnd != mainWindow && !::IsChild(mainWindow, msg.hwnd)) return false;
    switch (msg.wParam) {
    case VK_TAB:
        if (KeyDown(VK_CONTROL) || KeyDown(VK_MENU)) return false;
        MoveFocus(!KeyDown(VK_SHIFT));
        return true;
    case VK_ESCAPE:
        if (KeyDown(VK_CONTROL) || KeyDown(VK_SHIFT) || KeyDown(VK_MENU)) return false;
        ::SendMessageW(mainWindow, WM_CLOSE, 0, 0);
        return true;
    case VK_RETURN:
        // No default button: Enter does nothing, and the edit boxes must not beep.
        return true;
    default:
        return false;
    }
}

void OnActivate(WPARAM wParam) {
    if (LOWORD(wParam) != WA_INACTIVE) return;
    HWND focus = ::GetFocus();
    focusBeforeDeactivation = focus && ::IsChild(mainWindow, focus) ? focus : nullptr;
}

// The window passes the focus on to the control that had it when the window was
// deactivated, or to the first tab stop.
void OnSetFocus() {
    HWND target = focusBeforeDeactivation;
    if (!target || !::IsChild(mainWindow, target) || !::IsWindowVisible(target)) {
        std::vector<HWND> order = TabOrder();
        target = order.empty() ? nullptr : order.front();
    }
    if (target) ::SetFocus(target);
}

void OnDestroy() {
    controls.fill(nullptr);
    mainWindow = nullptr;
    ::PostQuitMessage(0);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (lParam) OnControlNotification(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_ACTIVATE:
        OnActivate(wParam);
        break;
    case WM_SETFOCUS:
        OnSetFocus();
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_NCDESTROY:
        countdownFont.reset();
        break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK GroupBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (lParam) OnControlNotification(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_ERASEBKGND: {
        // The group box has a button-face background of its own; the standard
        // control leaves its inside to the parent, which clips it away.
        RECT area;
        ::GetClientRect(window, &area);
        ::FillRect(reinterpret_cast<HDC>(wParam), &area, ::GetSysColorBrush(COLOR_BTNFACE));
        return 1;
    }
    }
    return ::CallWindowProcW(groupBoxBaseProc, window, message, wParam, lParam);
}

// 编辑框1 takes whole numbers: typed characters other than '-' and digits are
// swallowed; control characters (Backspace, Ctrl+V) pass, so a paste is not filtered.
LRESULT CALLBACK IntegerEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CHAR && wParam >= 32 && wParam != L'-' && (wParam < L'0' || wParam > L'9')) return 0;
    return ::CallWindowProcW(integerEditBaseProc, window, message, wParam, lParam);
}

// Puts `proc` in front of the control's own procedure and answers that one. Plain
// subclassing rather than comctl32's helpers: nothing else of comctl32 is called,
// and linking it for them made every start measurably slower. The manifest still
// has the first button load comctl32 6, which draws the controls in the visual style.
WNDPROC Subclass(HWND control, WNDPROC proc) {
    if (!control) return nullptr;
    return reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc)));
}

const wchar_t* ClassOf(Kind kind) {
    switch (kind) {
    case Kind::Label:
        return kLabelClass;
    case Kind::Link:
        return kLinkClass;
    case Kind::Timer:
        return kTimerClass;
    case Kind::Edit:
        return L"Edit";
    default:
        return L"Button";
    }
}

HFONT CreateCountdownFont() {
    LOGFONTW font{};
    ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
    font.lfHeight = -16;  // character height, without internal leading
    font.lfWidth = 0;
    font.lfWeight = FW_BOLD;
    return ::CreateFontIndirectW(&font);
}

HWND CreateControl(const ControlEntry& entry, HINSTANCE instance) {
    HWND parent = entry.inGroupBox ? controls[static_cast<size_t>(Ctl::分组框1)] : mainWindow;
    LabelInit label{entry.colour};
    LinkInit link{entry.colour, kMagenta, entry.colour, kLinkAddress};
    TimerInit timer{kTimerPeriod};
    void* init = nullptr;
    if (entry.kind == Kind::Label) init = &label;
    if (entry.kind == Kind::Link) init = &link;
    if (entry.kind == Kind::Timer) init = &timer;

    HWND control = ::CreateWindowExW(entry.exStyle, ClassOf(entry.kind), entry.text,
                                     WS_CHILD | WS_CLIPSIBLINGS | entry.style, entry.x,
                                     entry.y, entry.width, entry.height, parent,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(entry.name))), instance,
                                     init);
    if (!control) return nullptr;
    HFONT font = entry.font == Font::Countdown ? static_cast<HFONT>(countdownFont.get())
                                              : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    // Edit boxes stop at 30,000 characters unless told otherwise; ours take any length.
    if (entry.kind == Kind::Edit) ::SendMessageW(control, EM_SETLIMITTEXT, 0, 0);
    return control;
}

// Puts every control below the one created before it in the same parent, so that
// the stacking order is the layout's.
void StackBelowPrevious(size_t index) {
    const ControlEntry& entry = kLayout[index];
    HWND insertAfter = HWND_TOP;
    for (size_t i = index; i-- > 0;) {
        if (kLayout[i].inGroupBox == entry.inGroupBox && controls[i]) {
            insertAfter = controls[i];
            break;
        }
    }
    ::SetWindowPos(controls[index], insertAfter, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

bool RegisterMainClass(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUARVEL), IMAGE_ICON,
                                               ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), 0));
    wc.hIconSm = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUARVEL), IMAGE_ICON,
                                                 ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

HWND MainWindow() { return mainWindow; }

HWND ControlWindow(Ctl c) { return mainWindow ? controls[static_cast<size_t>(c)] : nullptr; }

void DisableEvents() { ::InterlockedExchange(&eventsEnabled, 0); }
bool EventsEnabled() { return eventsEnabled != 0; }

HWND CreateMainWindow(HINSTANCE instance) {
    RegisterControlClasses(instance);
    if (!RegisterMainClass(instance)) return nullptr;

    DisableEvents();
    int x = (::GetSystemMetrics(SM_CXSCREEN) - kWindowWidth) / 2;
    int y = (::GetSystemMetrics(SM_CYSCREEN) - kWindowHeight) / 2;
    mainWindow = ::CreateWindowExW(0, kWindowClass, kWindowCaption, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN,
                                   x, y, kWindowWidth, kWindowHeight, nullptr, nullptr, instance, nullptr);
    if (!mainWindow) return nullptr;
    countdownFont.reset(CreateCountdownFont());

    for (size_t i = 0; i < kLayout.size(); ++i) {
        controls[i] = CreateControl(kLayout[i], instance);
        if (!controls[i]) continue;
        StackBelowPrevious(i);
        if (kLayout[i].kind != Kind::Timer) ::ShowWindow(controls[i], SW_SHOWNA);
    }
    groupBoxBaseProc = Subclass(controls[static_cast<size_t>(Ctl::分组框1)], GroupBoxProc);
    integerEditBaseProc = Subclass(controls[static_cast<size_t>(Ctl::编辑框1)], IntegerEditProc);

    ::InterlockedExchange(&eventsEnabled, 1);
    OnWindowCreated();
    return mainWindow;
}

void DispatchQueuedMessage(MSG& msg) {
    // The countdown line's press is raised when it is taken from the queue, before
    // the label itself sees it.
    if (msg.message == WM_LBUTTONDOWN && msg.hwnd && msg.hwnd == ControlWindow(Ctl::透明标签4))
        Raise(EntryOf(Ctl::透明标签4).onLeftButton);
    if (HandleWindowKey(msg)) return;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
}

void SetLabelText(Ctl label, const std::wstring& text) {
    if (HWND control = ControlWindow(label)) ::SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void SetLabelTextColour(Ctl label, COLORREF colour) {
    if (HWND control = ControlWindow(label)) ::SendMessageW(control, LM_SETTEXTCOLOUR, colour, 0);
}

std::wstring GetEditText(Ctl edit) {
    HWND control = ControlWindow(edit);
    if (!control) return {};
    LRESULT length = ::SendMessageW(control, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT copied = ::SendMessageW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(std::clamp<LRESULT>(copied, 0, length)));
    return text;
}

void SetEditText(Ctl edit, const std::wstring& text) {
    if (HWND control = ControlWindow(edit)) ::SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

int GetCheckState(Ctl box) {
    HWND control = ControlWindow(box);
    return control && ::SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void SetCheckState(Ctl box, int state) {
    if (HWND control = ControlWindow(box)) ::SendMessageW(control, BM_SETCHECK, state ? BST_CHECKED : BST_UNCHECKED, 0);
}

void SetTimerPeriod(Ctl timer, int milliseconds) {
    if (HWND control = ControlWindow(timer)) ::SendMessageW(control, TM_SETPERIOD, static_cast<WPARAM>(milliseconds), 0);
}

void SetWindowOuterHeight(int height) {
    HWND window = MainWindow();
    if (!window) return;
    RECT frame;
    ::GetWindowRect(window, &frame);
    ::SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, std::clamp(height, 0, 32627),
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CentreWindow() {
    HWND window = MainWindow();
    if (!window || !::IsWindowVisible(window)) return;
    if (::IsIconic(window) || ::IsZoomed(window)) ::ShowWindow(window, SW_RESTORE);
    RECT frame;
    ::GetWindowRect(window, &frame);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    int x = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    if (x != frame.left || y != frame.top)
        ::SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetFocusTo(Ctl c) {
    if (HWND control = ControlWindow(c)) ::SetFocus(control);
}
