#include "driver/driver.h"

#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

namespace driver {

namespace fs = std::filesystem;

std::wstring BinDirectory() {
    std::vector<wchar_t> path(32768);
    DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    std::wstring full(path.data(), length);
    return full.substr(0, full.rfind(L'\\'));
}

std::wstring MakeTempFolder(const std::wstring& hint) {
    static int counter = 0;
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring base = std::wstring(temp) + L"quarvel-tests";
    ::CreateDirectoryW(base.c_str(), nullptr);
    for (;;) {
        std::wstring folder = base + L"\\run" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++counter) + hint;
        if (::CreateDirectoryW(folder.c_str(), nullptr)) return folder;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) return {};
    }
}

void RemoveFolder(const std::wstring& folder) {
    std::error_code ignored;
    if (!folder.empty()) fs::remove_all(fs::path(folder), ignored);
}

void WriteTextFile(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(fs::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream in(fs::path(path), std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    auto end = Clock::now() + timeout;
    for (;;) {
        if (done()) return true;
        if (Clock::now() >= end) return false;
        ::Sleep(10);
    }
}

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::vector<std::wstring> ParseCommandLine(const std::wstring& line) {
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(line.c_str(), &count);
    if (!argv) return {};
    std::vector<std::wstring> args(argv, argv + count);
    ::LocalFree(argv);
    return args;
}

std::wstring ProfileText(const std::wstring& file, const wchar_t* key) {
    // Room for any text a test stores.
    std::vector<wchar_t> buffer(65536);
    DWORD length = ::GetPrivateProfileStringW(L"Quarvel", key, L"<missing>", buffer.data(),
                                              static_cast<DWORD>(buffer.size()), file.c_str());
    return std::wstring(buffer.data(), length);
}

namespace {

template <typename Visit>
void ForEachProcess(Visit visit) {
    UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry))
        visit(entry);
}

BOOL CALLBACK CollectVisible(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<std::pair<DWORD, std::vector<HWND>>*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == search->first && ::IsWindowVisible(window)) search->second.push_back(window);
    return TRUE;
}

}  // namespace

std::vector<DWORD> ProcessIds() {
    std::vector<DWORD> ids;
    ForEachProcess([&](const PROCESSENTRY32W& entry) { ids.push_back(entry.th32ProcessID); });
    return ids;
}

std::wstring ProcessFileName(DWORD id) {
    std::wstring name;
    ForEachProcess([&](const PROCESSENTRY32W& entry) {
        if (entry.th32ProcessID == id) name = entry.szExeFile;
    });
    return name;
}

std::vector<HWND> VisibleWindowsOf(DWORD processId) {
    std::pair<DWORD, std::vector<HWND>> search{processId, {}};
    ::EnumWindows(CollectVisible, reinterpret_cast<LPARAM>(&search));
    return search.second;
}

std::vector<HWND> VisibleWindowsOf(DWORD processId, const wchar_t* className) {
    std::vector<HWND> windows = VisibleWindowsOf(processId);
    std::erase_if(windows, [&](HWND window) {
        wchar_t name[256] = {};
        ::GetClassNameW(window, name, 256);
        return std::wstring(name) != className;
    });
    return windows;
}

int KillAll(const std::wstring& fileName) {
    int killed = 0;
    ForEachProcess([&](const PROCESSENTRY32W& entry) {
        if (::lstrcmpiW(entry.szExeFile, fileName.c_str()) != 0) return;
        UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (process && ::TerminateProcess(process.get(), 1)) {
            ::WaitForSingleObject(process.get(), 5000);
            ++killed;
        }
    });
    return killed;
}

int CountProcesses(const std::wstring& fileName) {
    int count = 0;
    ForEachProcess([&](const PROCESSENTRY32W& entry) {
        if (::lstrcmpiW(entry.szExeFile, fileName.c_str()) == 0) ++count;
    });
    return count;
}

std::vector<ServerStart> ReadServerStarts(const std::wstring& runFolder) {
    std::string bytes = ReadFileBytes(runFolder + L"\\memcached-record.bin");
    std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
    memcpy(text.data(), bytes.data(), text.size() * sizeof(wchar_t));
    std::vector<ServerStart> starts;
    size_t at = 0;
    while (at < text.size()) {
        size_t end1 = text.find(L'\0', at);
        if (end1 == std::wstring::npos) break;
        size_t end2 = text.find(L'\0', end1 + 1);
        if (end2 == std::wstring::npos) break;
        starts.push_back({text.substr(at, end1 - at), text.substr(end1 + 1, end2 - end1 - 1)});
        at = end2 + 1;
    }
    return starts;
}

int Capture::Count(const RECT& part, const std::function<bool(COLORREF)>& match) const {
    int count = 0;
    for (int y = std::max<LONG>(part.top, 0); y < std::min<LONG>(part.bottom, height()); ++y)
        for (int x = std::max<LONG>(part.left, 0); x < std::min<LONG>(part.right, width()); ++x)
            if (match(At(x, y))) ++count;
    return count;
}

int Capture::Count(const RECT& part, COLORREF colour) const {
    return Count(part, [colour](COLORREF c) { return c == colour; });
}

bool Capture::SaveBmp(const std::wstring& path) const {
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = width();
    info.biHeight = -height();
    info.biPlanes = 1;
    info.biBitCount = 32;
    info.biCompression = BI_RGB;
    std::vector<DWORD> bgra(pixels.size());
    for (size_t i = 0; i < pixels.size(); ++i)
        bgra[i] = (GetRValue(pixels[i]) << 16) | (GetGValue(pixels[i]) << 8) | GetBValue(pixels[i]);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(bgra.size() * 4);
    std::ofstream out(fs::path(path), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof(file));
    out.write(reinterpret_cast<const char*>(&info), sizeof(info));
    out.write(reinterpret_cast<const char*>(bgra.data()), static_cast<std::streamsize>(bgra.size() * 4));
    return static_cast<bool>(out);
}

Capture CaptureScreen(const RECT& screenArea) {
    Capture capture;
    capture.area = screenArea;
    int width = capture.width(), height = capture.height();
    if (width <= 0 || height <= 0) return capture;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, screenArea.left, screenArea.top, SRCCOPY);
    ::GdiFlush();
    const DWORD* raw = static_cast<const DWORD*>(bits);
    capture.pixels.resize(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < capture.pixels.size(); ++i)
        capture.pixels[i] = RGB((raw[i] >> 16) & 0xFF, (raw[i] >> 8) & 0xFF, raw[i] & 0xFF);
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return capture;
}

bool Near(COLORREF pixel, COLORREF target, int tolerance) {
    return std::abs(GetRValue(pixel) - GetRValue(target)) <= tolerance &&
           std::abs(GetGValue(pixel) - GetGValue(target)) <= tolerance &&
           std::abs(GetBValue(pixel) - GetBValue(target)) <= tolerance;
}

bool Tinted(COLORREF pixel, COLORREF target) {
    int r = GetRValue(pixel), g = GetGValue(pixel), b = GetBValue(pixel);
    if (target == 0x0000FF) return r - std::max(g, b) > 60;
    if (target == 0xFF0000) return b - std::max(r, g) > 60;
    if (target == 0x008000) return g - std::max(r, b) > 40;
    return false;
}

bool Greyish(COLORREF pixel) {
    int r = GetRValue(pixel), g = GetGValue(pixel), b = GetBValue(pixel);
    return std::abs(r - g) < 12 && std::abs(g - b) < 12 && r > 100 && r < 200;
}

bool Dark(COLORREF pixel) { return GetRValue(pixel) < 90 && GetGValue(pixel) < 90 && GetBValue(pixel) < 90; }

namespace {

void SendKey(WORD key, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(::MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    ::SendInput(1, &input, sizeof(input));
}

void SendMouse(DWORD flags) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    ::SendInput(1, &input, sizeof(input));
}

}  // namespace

void MoveMouse(POINT screen) {
    ::SetCursorPos(screen.x, screen.y);
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = (screen.x * 65536 + 32768) / ::GetSystemMetrics(SM_CXSCREEN);
    input.mi.dy = (screen.y * 65536 + 32768) / ::GetSystemMetrics(SM_CYSCREEN);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    ::SendInput(1, &input, sizeof(input));
    ::Sleep(30);
}

void PressLeftButton() {
    SendMouse(MOUSEEVENTF_LEFTDOWN);
    SendMouse(MOUSEEVENTF_LEFTUP);
}

void ClickAt(POINT screen, bool twice) {
    MoveMouse(screen);
    for (int i = 0; i < (twice ? 2 : 1); ++i) PressLeftButton();
    ::Sleep(30);
}

void PressKey(WORD key, bool shift, bool control, bool alt) {
    if (shift) SendKey(VK_SHIFT, false);
    if (control) SendKey(VK_CONTROL, false);
    if (alt) SendKey(VK_MENU, false);
    SendKey(key, false);
    SendKey(key, true);
    if (alt) SendKey(VK_MENU, true);
    if (control) SendKey(VK_CONTROL, true);
    if (shift) SendKey(VK_SHIFT, true);
    ::Sleep(30);
}

void TypeText(const std::wstring& text) {
    for (wchar_t c : text) {
        SHORT scan = ::VkKeyScanW(c);
        if (scan == -1) {
            INPUT input[2]{};
            input[0].type = input[1].type = INPUT_KEYBOARD;
            input[0].ki.wScan = input[1].ki.wScan = c;
            input[0].ki.dwFlags = KEYEVENTF_UNICODE;
            input[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
            ::SendInput(2, input, sizeof(INPUT));
            ::Sleep(10);
            continue;
        }
        PressKey(LOBYTE(scan), (HIBYTE(scan) & 1) != 0, (HIBYTE(scan) & 2) != 0, (HIBYTE(scan) & 4) != 0);
    }
}

bool SetClipboardText(const std::wstring& text) {
    if (!::OpenClipboard(nullptr)) return false;
    ::EmptyClipboard();
    size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (memory) {
        memcpy(::GlobalLock(memory), text.c_str(), bytes);
        ::GlobalUnlock(memory);
        if (!::SetClipboardData(CF_UNICODETEXT, memory)) ::GlobalFree(memory);
    }
    ::CloseClipboard();
    return memory != nullptr;
}

// ---- Quarvel -------------------------------------------------------------------

Quarvel::Quarvel(const std::wstring& folderHint) : folder_(MakeTempFolder(folderHint)) {
    if (folder_.empty())
        std::fwprintf(stderr, L"no run folder: error %lu\n", ::GetLastError());
    else if (!::CopyFileW((BinDirectory() + L"\\Quarvel.exe").c_str(), exePath().c_str(), FALSE))
        std::fwprintf(stderr, L"Quarvel.exe not copied to %ls: error %lu\n", folder_.c_str(), ::GetLastError());
}

Quarvel::~Quarvel() {
    Kill();
    KillAll(L"memcached.exe");
    RemoveFolder(folder_);
}

void Quarvel::AddRecordingServer() {
    ::CopyFileW((BinDirectory() + L"\\recording_memcached.exe").c_str(), (folder_ + L"\\memcached.exe").c_str(),
                FALSE);
}

void Quarvel::AddBridgeServer() {
    ::CopyFileW((BinDirectory() + L"\\bridge_memcached.exe").c_str(), (folder_ + L"\\memcached.exe").c_str(), FALSE);
}

void Quarvel::AddFile(const std::wstring& name, const std::string& bytes) { WriteTextFile(folder_ + L"\\" + name, bytes); }

namespace {

BOOL CALLBACK FindUnpainted(HWND child, LPARAM context) {
    if (::IsWindowVisible(child) && ::GetUpdateRect(child, nullptr, FALSE)) {
        *reinterpret_cast<bool*>(context) = true;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

bool Painted(HWND window) {
    DWORD_PTR ignored;
    if (!::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &ignored)) return false;
    if (::GetUpdateRect(window, nullptr, FALSE)) return false;
    bool unpainted = false;
    ::EnumChildWindows(window, FindUnpainted, reinterpret_cast<LPARAM>(&unpainted));
    return !unpainted;
}

bool Quarvel::Start(std::chrono::milliseconds timeout) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    std::wstring line = L"\"" + exePath() + L"\"";
    // Started from another directory, so that tests see Quarvel make its own current.
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    if (!::CreateProcessW(exePath().c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, system, &startup, &info)) {
        std::fwprintf(stderr, L"Quarvel.exe did not start: error %lu\n", ::GetLastError());
        return false;
    }
    process_.reset(info.hProcess);
    UniqueHandle thread(info.hThread);
    processId_ = info.dwProcessId;
    bool shown = WaitUntil(
        [&] {
            std::vector<HWND> found = VisibleWindowsOf(processId_, kWindowClass);
            window_ = found.empty() ? nullptr : found.front();
            return window_ != nullptr || !Running();
        },
        timeout);
    if (shown && window_ != nullptr) {
        // Visible to Windows is not yet on screen: Wine maps the X window, and the
        // window paints, a little later, and a click sent before then is lost.
        WaitUntil([&] { return Painted(window_); }, 2s);
        ::Sleep(100);
        return true;
    }
    DWORD code = 0;
    if (!::GetExitCodeProcess(process_.get(), &code)) code = ::GetLastError();
    std::fwprintf(stderr, L"Quarvel.exe showed no window; exit code 0x%08lx\n", code);
    return false;
}

HWND Quarvel::Control(Ctl c) const {
    if (!window_) return nullptr;
    if (HWND direct = ::GetDlgItem(window_, ControlId(c))) return direct;
    return ::GetDlgItem(::GetDlgItem(window_, ControlId(Ctl::分组框1)), ControlId(c));
}

namespace {

std::wstring TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return L"<no answer>";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                          5000, &copied);
    text.resize(std::min<size_t>(copied, length));
    return text;
}

}  // namespace

std::wstring Quarvel::Text(Ctl c) const { return TextOf(Control(c)); }
std::wstring Quarvel::WindowText() const { return TextOf(window_); }

COLORREF Quarvel::LabelColour(Ctl c) const {
    DWORD_PTR colour = 0;
    ::SendMessageTimeoutW(Control(c), WM_APP + 2, 0, 0, SMTO_ABORTIFHUNG, 5000, &colour);
    return static_cast<COLORREF>(colour);
}

bool Quarvel::Checked() const {
    DWORD_PTR state = 0;
    ::SendMessageTimeoutW(Control(Ctl::选择框1), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state);
    return state == BST_CHECKED;
}

RECT Quarvel::WindowRect() const {
    RECT r{};
    ::GetWindowRect(window_, &r);
    return r;
}

RECT Quarvel::ControlRect(Ctl c) const {
    RECT r{};
    ::GetWindowRect(Control(c), &r);
    return r;
}

HWND Quarvel::Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    DWORD thread = ::GetWindowThreadProcessId(window_, nullptr);
    if (!::GetGUIThreadInfo(thread, &info)) return nullptr;
    return info.hwndFocus;
}

bool Quarvel::WaitForText(Ctl c, const std::wstring& text, std::chrono::milliseconds timeout) const {
    return WaitUntil([&] { return Text(c) == text; }, timeout);
}

void Quarvel::BringToFront() const {
    WaitUntil(
        [&] {
            ::SetForegroundWindow(window_);
            return ::GetForegroundWindow() == window_;
        },
        3s);
}

void Quarvel::Click(Ctl c, bool twice) const {
    BringToFront();
    RECT r = ControlRect(c);
    ClickAt({(r.left + r.right) / 2, (r.top + r.bottom) / 2}, twice);
}

Capture Quarvel::CaptureWindow() const { return CaptureScreen(WindowRect()); }

DWORD Quarvel::WaitForExit(std::chrono::milliseconds timeout) const {
    if (!process_) return STILL_ACTIVE;
    if (::WaitForSingleObject(process_.get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(process_.get(), &code);
    return code;
}

bool Quarvel::Running() const { return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

void Quarvel::Kill() {
    if (Running()) {
        ::TerminateProcess(process_.get(), 1);
        ::WaitForSingleObject(process_.get(), 5000);
    }
}

}  // namespace driver
