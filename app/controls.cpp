#include "app/controls.h"

#include "util/handle.h"

#include <shlwapi.h>

#include <memory>
#include <vector>

namespace {

template <typename State>
State* StateOf(HWND window) {
    return reinterpret_cast<State*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

// Keeps a control's state in its window from WM_NCCREATE to WM_NCDESTROY.
template <typename State, typename Init>
bool AttachState(HWND window, LPARAM createParams, State (*make)(const Init&)) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(createParams);
    if (!create->lpCreateParams) return false;
    auto* state = new State(make(*static_cast<const Init*>(create->lpCreateParams)));
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    return true;
}

template <typename State>
void DetachState(HWND window) {
    delete StateOf<State>(window);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
}

// ---- Transparent label -------------------------------------------------------

struct LabelState {
    COLORREF colour;
    HFONT font = nullptr;
};

LabelState MakeLabelState(const LabelInit& init) { return LabelState{init.colour}; }

// The label has no background of its own: what lies behind it must show through.
// The parent clips its children away from its own painting (Wine does so even for
// WS_EX_TRANSPARENT children), so the label has its parent paint the background
// behind it into the label's own DC before the text goes on top. A new text or
// colour then needs only the label repainted, at once, and no old glyphs stay.
void PaintParentBehind(HWND window, HDC dc) {
    HWND parent = ::GetParent(window);
    if (!parent) return;
    POINT origin{0, 0};
    ::MapWindowPoints(window, parent, &origin, 1);
    POINT old;
    ::OffsetViewportOrgEx(dc, -origin.x, -origin.y, &old);
    ::SendMessageW(parent, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    ::SendMessageW(parent, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    ::SetViewportOrgEx(dc, old.x, old.y, nullptr);
}

void RepaintBehind(HWND label) {
    if (::IsWindowVisible(label)) ::RedrawWindow(label, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

void PaintLabel(HWND window, const LabelState& state) {
    ScopedPaint paint(window);
    PaintParentBehind(window, paint.dc());
    int length = ::GetWindowTextLengthW(window);
    if (length == 0) return;  // nothing of its own
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(window, text.data(), length + 1)));

    RECT area;
    ::GetClientRect(window, &area);
    HDC dc = paint.dc();
    ScopedSelect font(dc, state.font ? state.font : ::GetStockObject(DEFAULT_GUI_FONT));
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, state.colour);
    UINT format = (::GetWindowLongPtrW(window, GWL_STYLE) & LS_MULTILINE_CENTRED)
                      ? DT_CENTER | DT_TOP | DT_WORDBREAK | DT_NOCLIP
                      : DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOCLIP;
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area, format);
}

LRESULT CALLBACK LabelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE && !AttachState<LabelState, LabelInit>(window, lParam, MakeLabelState)) return FALSE;
    LabelState* state = StateOf<LabelState>(window);
    if (!state) return ::DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
    case WM_NCDESTROY:
        DetachState<LabelState>(window);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        PaintLabel(window, *state);
        return 0;
    case WM_SETFONT:
        state->font = reinterpret_cast<HFONT>(wParam);
        if (LOWORD(lParam)) RepaintBehind(window);
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(state->font);
    case WM_SETTEXT: {
        LRESULT result = ::DefWindowProcW(window, message, wParam, lParam ? lParam : reinterpret_cast<LPARAM>(L""));
        RepaintBehind(window);
        return result;
    }
    case LM_SETTEXTCOLOUR:
        state->colour = static_cast<COLORREF>(wParam);
        RepaintBehind(window);
        return 0;
    case LM_GETTEXTCOLOUR:
        return static_cast<LRESULT>(state->colour);
    case WM_WINDOWPOSCHANGED: {
        auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
        if (!(pos->flags & SWP_NOMOVE) || !(pos->flags & SWP_NOSIZE)) RepaintBehind(window);
        return 0;
    }
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

// ---- Hyperlink ---------------------------------------------------------------

struct LinkState {
    COLORREF normal, hover, visited;
    COLORREF current;
    std::wstring address;
    bool hovering = false;
    HFONT font = nullptr;
};

LinkState MakeLinkState(const LinkInit& init) {
    return LinkState{init.normal, init.hover, init.visited, init.normal, init.address ? init.address : L""};
}

bool StartVisible(const std::wstring& commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION info{};
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    UniqueHandle process(info.hProcess), thread(info.hThread);
    return true;
}

// The shell is loaded only when the link is clicked: loading it with the program
// would cost every start a third of its time and memory for a click most users
// never make.
template <typename Function>
Function ShellFunction(const wchar_t* module, const char* name) {
    HMODULE library = ::LoadLibraryExW(module, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!library) library = ::LoadLibraryW(module);
    if (!library) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(library, name)));
}

// Opens the address with the shell; when the shell cannot, runs the program
// registered for opening web pages with the address.
bool OpenAddress(const std::wstring& address) {
    using ShellExecuteFn = HINSTANCE(WINAPI*)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
    using AssocQueryStringFn = HRESULT(WINAPI*)(ASSOCF, ASSOCSTR, LPCWSTR, LPCWSTR, LPWSTR, DWORD*);
    if (auto shellExecute = ShellFunction<ShellExecuteFn>(L"shell32.dll", "ShellExecuteW")) {
        auto result = reinterpret_cast<INT_PTR>(
            shellExecute(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
        if (result > 32) return true;
    }
    auto assocQueryString = ShellFunction<AssocQueryStringFn>(L"shlwapi.dll", "AssocQueryStringW");
    if (!assocQueryString) return false;
    wchar_t registered[4096] = {};
    DWORD size = static_cast<DWORD>(std::size(registered));
    if (FAILED(assocQueryString(0, ASSOCSTR_COMMAND, L".htm", L"open", registered, &size))) return false;
    std::wstring command = BrowserCommandFor(registered, address);
    return !command.empty() && StartVisible(command);
}

void PaintLink(HWND window, const LinkState& state) {
    ScopedPaint paint(window);
    HDC dc = paint.dc();
    RECT area;
    ::GetClientRect(window, &area);
    ::FillRect(dc, &area, ::GetSysColorBrush(COLOR_BTNFACE));
    int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(window, text.data(), length + 1)));
    ScopedSelect font(dc, state.font ? state.font : ::GetStockObject(DEFAULT_GUI_FONT));
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, state.hovering ? state.hover : state.current);
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

void OnLinkMouseMove(HWND window, LinkState& state, LPARAM lParam) {
    POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    RECT area;
    ::GetClientRect(window, &area);
    bool inside = ::PtInRect(&area, point) != FALSE;
    if (inside && !state.hovering) {
        // Capturing the mouse is how the link learns that the pointer has left it.
        state.hovering = true;
        ::SetCapture(window);
        ::InvalidateRect(window, nullptr, FALSE);
    } else if (!inside && state.hovering) {
        state.hovering = false;
        ::ReleaseCapture();
        ::InvalidateRect(window, nullptr, FALSE);
    }
}

LRESULT CALLBACK LinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE && !AttachState<LinkState, LinkInit>(window, lParam, MakeLinkState)) return FALSE;
    LinkState* state = StateOf<LinkState>(window);
    if (!state) return ::DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
    case WM_NCDESTROY:
        DetachState<LinkState>(window);
        return 0;
    case WM_ERASEBKGND:
        return 1;  // WM_PAINT fills the whole control
    case WM_PAINT:
        PaintLink(window, *state);
        return 0;
    case WM_SETFONT:
        state->font = reinterpret_cast<HFONT>(wParam);
        if (LOWORD(lParam)) ::InvalidateRect(window, nullptr, FALSE);
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(state->font);
    case WM_SETTEXT: {
        LRESULT result = ::DefWindowProcW(window, message, wParam, lParam ? lParam : reinterpret_cast<LPARAM>(L""));
        ::InvalidateRect(window, nullptr, FALSE);
        return result;
    }
    case WM_MOUSEMOVE:
        OnLinkMouseMove(window, *state, lParam);
        return 0;
    case WM_CAPTURECHANGED:
        if (state->hovering && reinterpret_cast<HWND>(lParam) != window) {
            state->hovering = false;
            ::InvalidateRect(window, nullptr, FALSE);
        }
        return 0;
    case WM_LBUTTONDOWN:
        if (OpenAddress(state->address)) {
            state->current = state->visited;
            ::InvalidateRect(window, nullptr, FALSE);
        }
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

// ---- Interval timer ----------------------------------------------------------

struct TimerState {
    int period;
};

TimerState MakeTimerState(const TimerInit& init) { return TimerState{init.period}; }

constexpr UINT_PTR kTimerId = 1;

void Restart(HWND window, int period) {
    if (period > 0)
        ::SetTimer(window, kTimerId, static_cast<UINT>(period), nullptr);
    else
        ::KillTimer(window, kTimerId);
}

LRESULT CALLBACK TimerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE && !AttachState<TimerState, TimerInit>(window, lParam, MakeTimerState)) return FALSE;
    TimerState* state = StateOf<TimerState>(window);
    if (!state) return ::DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
    case WM_CREATE:
        Restart(window, state->period);
        return 0;
    case WM_DESTROY:
        ::KillTimer(window, kTimerId);
        return 0;
    case WM_NCDESTROY:
        DetachState<TimerState>(window);
        return 0;
    case WM_TIMER:
        if (wParam == kTimerId)
            ::SendMessageW(::GetParent(window), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(window), TN_TICK),
                           reinterpret_cast<LPARAM>(window));
        return 0;
    case TM_SETPERIOD: {
        int period = static_cast<int>(wParam);
        if (period < 0) period = 0;
        if (period == state->period) return 0;
        state->period = period;
        Restart(window, period);
        return 0;
    }
    case TM_GETPERIOD:
        return state->period;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void Register(HINSTANCE instance, const wchar_t* name, WNDPROC proc, LPCWSTR cursor, UINT style) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = style;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, cursor);
    wc.hbrBackground = nullptr;  // the label has no background of its own
    wc.lpszClassName = name;
    ::RegisterClassExW(&wc);
}

}  // namespace

void RegisterControlClasses(HINSTANCE instance) {
    // CS_DBLCLKS turns the second press of a double click into WM_LBUTTONDBLCLK,
    // so a double click on a label raises its press event once.
    Register(instance, kLabelClass, LabelProc, IDC_ARROW, CS_DBLCLKS);
    Register(instance, kLinkClass, LinkProc, IDC_HAND, 0);
    Register(instance, kTimerClass, TimerProc, IDC_ARROW, 0);
}

std::wstring BrowserCommandFor(const std::wstring& registeredCommand, const std::wstring& address) {
    if (registeredCommand.empty()) return {};
    std::wstring command = registeredCommand;
    size_t placeholder = command.find(L"%1");
    if (placeholder != std::wstring::npos) {
        if (placeholder > 0 && command[placeholder - 1] == L'"') --placeholder;
        command.resize(placeholder);
    }
    return command + L" " + address;
}
