#include "app/controls.h"
#include "app/program.h"

#include <gtest/gtest.h>

namespace {

TEST(RunDirectory, IsThePathCutAtItsLastBackslash) {
    struct Case {
        const wchar_t* path;
        const wchar_t* directory;
        const wchar_t* file;
    };
    const Case cases[] = {
        {L"C:\\Tools\\Quarvel.exe", L"C:\\Tools", L"Quarvel.exe"},
        {L"C:\\Quarvel.exe", L"C:", L"Quarvel.exe"},
        {L"D:\\带 空格\\服务器\\Quarvel.exe", L"D:\\带 空格\\服务器", L"Quarvel.exe"},
        {L"\\\\server\\share\\q.exe", L"\\\\server\\share", L"q.exe"},
        {L"Quarvel.exe", L"", L"Quarvel.exe"},
    };
    for (const Case& c : cases) {
        std::wstring directory, file;
        SplitModulePath(c.path, directory, file);
        EXPECT_EQ(directory, c.directory) << testing::PrintToString(std::wstring(c.path));
        EXPECT_EQ(file, c.file);
    }
}

TEST(RunDirectory, IsMadeTheCurrentDirectory) {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    ::SetCurrentDirectoryW(temp);
    InitialiseProgram(::GetModuleHandleW(nullptr));

    wchar_t module[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring path = module;
    EXPECT_EQ(RunDirectory(), path.substr(0, path.rfind(L'\\')));
    EXPECT_EQ(ExecutableFileName(), L"unit_tests.exe");
    wchar_t current[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, current);
    EXPECT_EQ(std::wstring(current), RunDirectory());
}

TEST(Hyperlink, FallbackCommandIsCutBeforeThePlaceholder) {
    const std::wstring address = L"https://memcached.org/";
    EXPECT_EQ(BrowserCommandFor(L"\"C:\\b\\browser.exe\" \"%1\"", address), L"\"C:\\b\\browser.exe\"  " + address);
    EXPECT_EQ(BrowserCommandFor(L"C:\\b\\browser.exe %1", address), L"C:\\b\\browser.exe  " + address);
    EXPECT_EQ(BrowserCommandFor(L"C:\\b\\browser.exe -url", address), L"C:\\b\\browser.exe -url " + address);
    EXPECT_EQ(BrowserCommandFor(L"", address), L"");
}

TEST(ProcessPendingEvents, HandlesWhatWaitsAndLeavesAQuitForTheLoop) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    static int handled = 0;
    handled = 0;
    WNDCLASSW wc{};
    wc.lpszClassName = L"PendingEventsProbe";
    wc.lpfnWndProc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_APP) ++handled;
        return ::DefWindowProcW(w, m, wp, lp);
    };
    ::RegisterClassW(&wc);
    HWND probe = ::CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ::PostMessageW(probe, WM_APP, 0, 0);
    ::PostMessageW(probe, WM_APP, 0, 0);
    int code = -1;
    EXPECT_FALSE(ProcessPendingEvents(&code));
    EXPECT_EQ(handled, 2);

    ::PostMessageW(probe, WM_APP, 0, 0);
    ::PostQuitMessage(7);
    EXPECT_TRUE(ProcessPendingEvents(&code));
    EXPECT_EQ(code, 7);
    EXPECT_EQ(handled, 3);
    ASSERT_TRUE(::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT)) << "the quit request stays for the main loop";
    EXPECT_EQ(msg.wParam, 7u);
    ::DestroyWindow(probe);
}

}  // namespace
