// Quarvel's own small control classes: the transparent label, the hyperlink and
// the interval timer. Each keeps its state in the window and answers
// WM_GETTEXT/WM_SETTEXT like a standard control.
#pragma once

#include <windows.h>

#include <string>

inline constexpr wchar_t kLabelClass[] = L"QuarvelTransparentLabel";
inline constexpr wchar_t kLinkClass[] = L"QuarvelHyperlink";
inline constexpr wchar_t kTimerClass[] = L"QuarvelTimer";

// Private messages of the label and the timer.
inline constexpr UINT LM_SETTEXTCOLOUR = WM_APP + 1;  // wParam: COLORREF
inline constexpr UINT LM_GETTEXTCOLOUR = WM_APP + 2;  // returns the COLORREF
inline constexpr UINT TM_SETPERIOD = WM_APP + 3;      // wParam: period in ms, <= 0 stops
inline constexpr UINT TM_GETPERIOD = WM_APP + 4;

// Label style bits (in the low word of the window style, as static controls do).
inline constexpr DWORD LS_MULTILINE_CENTRED = 0x0001;  // otherwise one line, left, vertically centred

// Creation data passed as lpParam.
struct LabelInit {
    COLORREF colour;
};
struct LinkInit {
    COLORREF normal;
    COLORREF hover;
    COLORREF visited;
    const wchar_t* address;
};
struct TimerInit {
    int period;
};
// The timer tells its parent of each tick with WM_COMMAND and this code.
inline constexpr WORD TN_TICK = 0x7001;

void RegisterControlClasses(HINSTANCE instance);

// The command registered for opening ".htm" files, cut before its "%1" (before the
// opening quote when the placeholder is quoted), with a blank and the address
// appended. Empty when the registered command is empty.
std::wstring BrowserCommandFor(const std::wstring& registeredCommand, const std::wstring& address);
