#include "app/program.h"

#include "app/window.h"
#include "util/handle.h"

#include <vector>

namespace {

constexpr wchar_t kOwnerClass[] = L"QuarvelOwner";
constexpr UINT WM_END_PROGRAM = WM_APP + 100;  // wParam: exit code

std::wstring runDirectory;
std::wstring executableFileName;
DWORD mainThreadId = 0;
HWND ownerWindow = nullptr;

std::wstring ModulePath() {
    // Paths can exceed MAX_PATH; grow until the whole path fits.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

LRESULT CALLBACK OwnerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_END_PROGRAM) ::ExitProcess(static_cast<UINT>(wParam));
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

void SplitModulePath(const std::wstring& path, std::wstring& directory, std::wstring& fileName) {
    size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) {
        directory.clear();
        fileName = path;
        return;
    }
    directory = path.substr(0, slash);
    fileName = path.substr(slash + 1);
}

void InitialiseProgram(HINSTANCE instance) {
    SplitModulePath(ModulePath(), runDirectory, executableFileName);
    // "C:" alone would name the drive's current directory, not its root.
    std::wstring current = runDirectory.size() == 2 && runDirectory[1] == L':' ? runDirectory + L"\\" : runDirectory;
    if (!current.empty()) ::SetCurrentDirectoryW(current.c_str());
    mainThreadId = ::GetCurrentThreadId();

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = OwnerWindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kOwnerClass;
    ::RegisterClassExW(&wc);
    // A message-only window: it is never shown and does not count as a window of
    // the desktop, so closing `窗口` still leaves none.
    ownerWindow = ::CreateWindowExW(0, kOwnerClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
}

const std::wstring& RunDirectory() { return runDirectory; }
const std::wstring& ExecutableFileName() { return executableFileName; }

bool RunProgram(const std::wstring& application, const std::wstring& commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    // CreateProcessW may write into the command line, so it gets a copy.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    if (!::CreateProcessW(application.empty() ? nullptr : application.c_str(), line.data(), nullptr, nullptr, FALSE,
                          0, nullptr, nullptr, &startup, &info))
        return false;
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    // A console program such as memcached has no input queue; the wait then ends
    // at once with a failure that says nothing about the start.
    ::WaitForInputIdle(process.get(), 1000);
    return true;
}

bool ProcessPendingEvents(int* quitCode) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Leave it for the main loop, which is the one to end on it.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            if (quitCode) *quitCode = static_cast<int>(msg.wParam);
            return true;
        }
        DispatchQueuedMessage(msg);
    }
    return false;
}

void EndProgram(UINT exitCode) {
    DisableEvents();
    if (::GetCurrentThreadId() != mainThreadId && ownerWindow) {
        // The window's thread ends the process; this call waits until it has.
        ::SendMessageW(ownerWindow, WM_END_PROGRAM, exitCode, 0);
    }
    ::ExitProcess(exitCode);
}

bool StartThread(LPTHREAD_START_ROUTINE routine) {
    UniqueHandle thread(::CreateThread(nullptr, 0, routine, nullptr, 0, nullptr));
    return static_cast<bool>(thread);
}

int ShowMessageBox(const std::wstring& text, UINT flags) {
    if (!(flags & MB_SYSTEMMODAL)) flags |= MB_TASKMODAL;
    return ::MessageBoxW(nullptr, text.c_str(), L"信息：", flags);
}

int RunMessageLoop() {
    MSG msg;
    BOOL got;
    while ((got = ::GetMessageW(&msg, nullptr, 0, 0)) != 0) {
        if (got == -1) return 0;
        DispatchQueuedMessage(msg);
    }
    return static_cast<int>(msg.wParam);
}
