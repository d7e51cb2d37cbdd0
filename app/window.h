// The main window `窗口`, its twelve controls and the operations the rest of the
// program uses on them. Every operation works from any thread: it reaches the
// control with SendMessage, which the window's thread carries out the next time it
// takes messages, so a caller on the worker waits for it. Once the window has been
// destroyed the operations do nothing.
#pragma once

#include <windows.h>

#include <string>

// Controls in stacking order (first on top among the children of one parent).
enum class Ctl {
    透明标签3,
    透明标签4,
    分组框1,
    时钟1,
    按钮2,
    按钮1,
    透明标签2,
    选择框1,
    编辑框1,
    透明标签1,
    超级链接框1,
    编辑框__,
};
inline constexpr int kControlCount = 12;

// Child-window id of a control; tests find controls by it.
constexpr int ControlId(Ctl c) { return 1000 + static_cast<int>(c); }

inline constexpr wchar_t kWindowCaption[] = L"Quarvel - Dorvik";
inline constexpr wchar_t kWindowClass[] = L"QuarvelWindow";
inline constexpr int kWindowWidth = 262;
inline constexpr int kWindowHeight = 309;

// Builds `窗口` hidden, with every control, and runs `OnWindowCreated`.
// Returns the window, or null when it could not be created.
HWND CreateMainWindow(HINSTANCE instance);
HWND MainWindow();
// The control's window while the main window exists, otherwise null.
HWND ControlWindow(Ctl c);

// Event delivery. Handlers run only while events are enabled: not while the window
// is being built and never again once the program has begun to end.
void DisableEvents();
bool EventsEnabled();

// Dispatches one message taken from the queue, applying the window's keyboard rules
// (Tab order, Esc closes, Enter does nothing) and raising the countdown label's
// press event before the label sees the press.
void DispatchQueuedMessage(MSG& msg);

// Control operations.
void SetLabelText(Ctl label, const std::wstring& text);
void SetLabelTextColour(Ctl label, COLORREF colour);
std::wstring GetEditText(Ctl edit);
void SetEditText(Ctl edit, const std::wstring& text);
int GetCheckState(Ctl box);
void SetCheckState(Ctl box, int state);
void SetTimerPeriod(Ctl timer, int milliseconds);
void SetWindowOuterHeight(int height);
void CentreWindow();
void SetFocusTo(Ctl c);
