// Starts the real Quarvel.exe from a fresh run folder and operates it from this
// process as a user would: finds its window, reads its controls, clicks, types,
// looks at the pixels on screen and collects the exit code.
#pragma once

#include "app/window.h"
#include "util/handle.h"

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace driver {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The folder holding the built programs (this test program's own folder).
std::wstring BinDirectory();
// A new empty folder under the temporary folder; `hint` is added to its name.
std::wstring MakeTempFolder(const std::wstring& hint = L"");
void RemoveFolder(const std::wstring& folder);
void WriteTextFile(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);

// Texts Quarvel shows, as a user reads them.
inline constexpr wchar_t kNotRunning[] = L"memcached.exe - 未运行";
inline constexpr wchar_t kStarting[] = L"memcached.exe - 启动中";
inline constexpr wchar_t kRunning[] = L"memcached.exe - 已运行";
inline constexpr wchar_t kCancelled[] = L"本次已终止自动关闭功能!";
// The settings file's key for the cache size.
inline constexpr wchar_t kCacheKey[] = L"memcached 最大的缓存配置";

// Polls `done` every 10 ms until it holds or `timeout` passes.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
// Seconds since `start`.
double Since(Clock::time_point start);

// A command line cut into arguments as Windows programs cut it.
std::vector<std::wstring> ParseCommandLine(const std::wstring& line);
// A key of Quarvel's section as Windows itself reads it, or "<missing>".
std::wstring ProfileText(const std::wstring& file, const wchar_t* key);

// The ids of all processes, in the order a snapshot lists them.
std::vector<DWORD> ProcessIds();
// A process's file name as the process list gives it; empty when there is none.
std::wstring ProcessFileName(DWORD id);
// Ends every process with that file name; answers how many.
int KillAll(const std::wstring& fileName);
int CountProcesses(const std::wstring& fileName);
// The process's visible top-level windows, front to back.
std::vector<HWND> VisibleWindowsOf(DWORD processId);
// Its visible windows of that class.
std::vector<HWND> VisibleWindowsOf(DWORD processId, const wchar_t* className);

// One record written by the recording memcached.exe per start.
struct ServerStart {
    std::wstring commandLine;
    std::wstring currentDirectory;
};
std::vector<ServerStart> ReadServerStarts(const std::wstring& runFolder);

// Pixels of a screen rectangle, as COLORREF values (0x00BBGGRR).
struct Capture {
    RECT area{};
    std::vector<COLORREF> pixels;
    int width() const { return area.right - area.left; }
    int height() const { return area.bottom - area.top; }
    COLORREF At(int x, int y) const { return pixels[static_cast<size_t>(y) * width() + x]; }
    // Pixels within `part` (coordinates relative to the capture) that pass `match`.
    int Count(const RECT& part, const std::function<bool(COLORREF)>& match) const;
    int Count(const RECT& part, COLORREF colour) const;
    bool SaveBmp(const std::wstring& path) const;
};
Capture CaptureScreen(const RECT& screenArea);
// True for a pixel close to `target` in hue: text is antialiased, so its
// pixels mix the text colour with the background.
bool Near(COLORREF pixel, COLORREF target, int tolerance = 60);
// Antialiased text of a saturated colour: pixels where that colour's channels stand
// well above the others. `target` is one of red, green, blue (0x0000FF, 0x008000,
// 0xFF0000).
bool Tinted(COLORREF pixel, COLORREF target);
// Text pixels of grey or black text on the light button face.
bool Greyish(COLORREF pixel);
bool Dark(COLORREF pixel);

// The window answers a message, and neither it nor any visible control of it waits
// to be painted.
bool Painted(HWND window);

// Real input through SendInput, to whatever window is in front.
void MoveMouse(POINT screen);
void ClickAt(POINT screen, bool twice = false);
// A click where the pointer is, and no wait after it.
void PressLeftButton();
void PressKey(WORD key, bool shift = false, bool control = false, bool alt = false);
void TypeText(const std::wstring& text);
// Puts text on the clipboard, for a paste with Ctrl+V.
bool SetClipboardText(const std::wstring& text);

class Quarvel {
public:
    // A run folder (its name ends with `folderHint`) holding a copy of Quarvel.exe.
    explicit Quarvel(const std::wstring& folderHint = L"");
    ~Quarvel();
    Quarvel(const Quarvel&) = delete;
    Quarvel& operator=(const Quarvel&) = delete;

    const std::wstring& folder() const { return folder_; }
    std::wstring exePath() const { return folder_ + L"\\Quarvel.exe"; }
    // Puts the recording stand-in server beside Quarvel.exe as memcached.exe.
    void AddRecordingServer();
    // Puts the bridge to the host's real memcached beside Quarvel.exe as memcached.exe.
    void AddBridgeServer();
    void AddFile(const std::wstring& name, const std::string& bytes);

    // Starts Quarvel.exe from another current directory and waits for its window.
    bool Start(std::chrono::milliseconds timeout = 20s);
    HWND window() const { return window_; }
    DWORD processId() const { return processId_; }
    HANDLE process() const { return process_.get(); }

    HWND Control(Ctl c) const;
    std::wstring Text(Ctl c) const;
    std::wstring WindowText() const;
    COLORREF LabelColour(Ctl c) const;
    bool Checked() const;  // 选择框1
    RECT WindowRect() const;
    RECT ControlRect(Ctl c) const;  // screen coordinates
    HWND Focus() const;
    bool WaitForText(Ctl c, const std::wstring& text, std::chrono::milliseconds timeout) const;

    void BringToFront() const;
    void Click(Ctl c, bool twice = false) const;
    Capture CaptureWindow() const;

    // The exit code, or STILL_ACTIVE when the process has not ended in time.
    DWORD WaitForExit(std::chrono::milliseconds timeout) const;
    bool Running() const;
    void Kill();

private:
    std::wstring folder_;
    UniqueHandle process_;
    DWORD processId_ = 0;
    HWND window_ = nullptr;
};

}  // namespace driver
