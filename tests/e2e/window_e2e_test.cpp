// The window as the user sees it: its frame, every control in place, the colours on
// screen, the keyboard and focus rules, and how the program ends.
// Module look-up through kernel32, without psapi.dll.
#define PSAPI_VERSION 2
#include "driver/driver.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <algorithm>
#include <iterator>

using namespace driver;

namespace {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        quarvel.AddRecordingServer();
        ASSERT_TRUE(quarvel.Start()) << "Quarvel's window did not appear";
        // OnWindowCreated fills the status line before the window is shown.
        ASSERT_FALSE(quarvel.Text(Ctl::透明标签2).empty());
    }
    Quarvel quarvel;
};

POINT ClientOrigin(HWND window) {
    POINT origin{0, 0};
    ::ClientToScreen(window, &origin);
    return origin;
}

TEST_F(WindowTest, FrameIsFixedCentredAndCaptioned) {
    RECT frame = quarvel.WindowRect();
    EXPECT_EQ(frame.right - frame.left, 262);
    EXPECT_EQ(frame.bottom - frame.top, 309);
    EXPECT_EQ(frame.left, (::GetSystemMetrics(SM_CXSCREEN) - 262) / 2);
    EXPECT_EQ(frame.top, (::GetSystemMetrics(SM_CYSCREEN) - 309) / 2);
    EXPECT_EQ(quarvel.WindowText(), L"Quarvel - Dorvik");

    LONG_PTR style = ::GetWindowLongPtrW(quarvel.window(), GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME) << "the frame must not be resizable";
    EXPECT_EQ(::GetWindowLongPtrW(quarvel.window(), GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    EXPECT_EQ(::GetWindow(quarvel.window(), GW_OWNER), nullptr);

    // Dragging the border does nothing: the frame answers no sizing hit test.
    POINT corner{frame.right - 1, frame.bottom - 1};
    DWORD_PTR hit = 0;
    ::SendMessageTimeoutW(quarvel.window(), WM_NCHITTEST, 0, MAKELPARAM(corner.x, corner.y), SMTO_ABORTIFHUNG, 5000, &hit);
    EXPECT_NE(hit, static_cast<DWORD_PTR>(HTBOTTOMRIGHT));
}

struct Placement {
    Ctl control;
    bool inGroupBox;
    RECT place;  // left, top, right, bottom in the parent's client area
    const wchar_t* text;
};

TEST_F(WindowTest, EveryControlSitsInItsPlaceWithItsText) {
    const Placement placements[] = {
        {Ctl::透明标签3, false, {16, 168, 16 + 224, 168 + 42},
         L"本程序开机自启后30秒不动会自动关闭\r\n\r\n且它的关闭与否不影响Memcached"},
        {Ctl::透明标签4, false, {3, 241, 3 + 248, 241 + 37}, L"打开无操作,将在30秒,关闭!\r\n可点这里关闭倒计时!"},
        {Ctl::分组框1, false, {0, -1, 256, -1 + 161}, L""},
        {Ctl::按钮2, true, {139, 82, 139 + 75, 82 + 34}, L"停止Memcached"},
        {Ctl::按钮1, true, {18, 82, 18 + 104, 82 + 34}, L"启动Or重启Memcached"},
        {Ctl::透明标签2, true, {9, 125, 9 + 233, 125 + 24}, L"memcached.exe - 未运行"},
        {Ctl::选择框1, true, {10, 55, 10 + 222, 55 + 17}, L"开机自动运行memcached并隐藏界面"},
        {Ctl::编辑框1, true, {164, 25, 164 + 40, 25 + 18}, L"256"},
        {Ctl::透明标签1, true, {11, 26, 11 + 208, 26 + 16}, L"memcached 最大的缓存配置:        M"},
        {Ctl::超级链接框1, false, {51, 220, 51 + 152, 220 + 14}, L"memcached.org"},
        {Ctl::编辑框__, false, {336, 8, 336 + 32, 8 + 16}, L""},
    };
    HWND groupBox = quarvel.Control(Ctl::分组框1);
    for (const Placement& p : placements) {
        SCOPED_TRACE(static_cast<int>(p.control));
        HWND control = quarvel.Control(p.control);
        ASSERT_NE(control, nullptr);
        HWND parent = p.inGroupBox ? groupBox : quarvel.window();
        EXPECT_EQ(::GetParent(control), parent);
        POINT origin = ClientOrigin(parent);
        RECT r = quarvel.ControlRect(p.control);
        EXPECT_EQ(r.left - origin.x, p.place.left);
        EXPECT_EQ(r.top - origin.y, p.place.top);
        EXPECT_EQ(r.right - origin.x, p.place.right);
        EXPECT_EQ(r.bottom - origin.y, p.place.bottom);
        // The countdown may already have ticked; its text is checked by the countdown tests.
        if (p.control != Ctl::透明标签4) {
            EXPECT_EQ(quarvel.Text(p.control), p.text);
        }
        EXPECT_TRUE(::IsWindowVisible(control));
    }
    // The edit box lies over the label's blanks: it must be above it.
    for (HWND w = quarvel.Control(Ctl::编辑框1); w; w = ::GetWindow(w, GW_HWNDPREV))
        EXPECT_NE(w, quarvel.Control(Ctl::透明标签1)) << "透明标签1 is stacked above 编辑框1";
    EXPECT_EQ(::GetWindow(groupBox, GW_CHILD), quarvel.Control(Ctl::时钟1)) << "时钟1 is first in the group box";
    EXPECT_FALSE(::IsWindowVisible(quarvel.Control(Ctl::时钟1)));
    EXPECT_EQ(::GetWindow(quarvel.window(), GW_CHILD), quarvel.Control(Ctl::透明标签3));
}

TEST_F(WindowTest, ColoursOnScreen) {
    quarvel.BringToFront();
    ::Sleep(300);
    Capture shot = quarvel.CaptureWindow();
    shot.SaveBmp(BinDirectory() + L"\\window-colours.bmp");
    RECT frame = quarvel.WindowRect();
    auto part = [&](Ctl c) {
        RECT r = quarvel.ControlRect(c);
        return RECT{r.left - frame.left, r.top - frame.top, r.right - frame.left, r.bottom - frame.top};
    };
    auto tinted = [](COLORREF target) { return [target](COLORREF c) { return Tinted(c, target); }; };
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);

    // Text pixels of each label in its own colour, and none in the others'.
    EXPECT_GT(shot.Count(part(Ctl::透明标签3), Greyish), 100) << "grey notice";
    EXPECT_EQ(shot.Count(part(Ctl::透明标签3), tinted(0x0000FF)), 0);
    EXPECT_GT(shot.Count(part(Ctl::透明标签2), tinted(0x0000FF)), 60) << "red status line";
    EXPECT_EQ(shot.Count(part(Ctl::透明标签2), tinted(0xFF0000)), 0);
    EXPECT_GT(shot.Count(part(Ctl::超级链接框1), tinted(0xFF0000)), 40) << "blue link";
    EXPECT_GT(shot.Count(part(Ctl::透明标签4), tinted(0x0000FF)), 300) << "red countdown";
    EXPECT_GT(shot.Count(part(Ctl::透明标签1), Dark), 60) << "black label";
    // The background around the texts is the button face, with nothing behind the labels.
    RECT band = part(Ctl::透明标签3);
    EXPECT_GT(shot.Count(band, face), (band.right - band.left) * (band.bottom - band.top) / 2);
}

// The controls are those of Common Controls 6, which draw them in the system's
// visual styles: the manifest asks for that version, and Quarvel links nothing that
// would load another.
TEST_F(WindowTest, ControlsComeFromCommonControlsSix) {
    std::vector<HMODULE> modules(1024);
    DWORD bytes = 0;
    ASSERT_TRUE(::EnumProcessModulesEx(quarvel.process(), modules.data(),
                                       static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &bytes,
                                       LIST_MODULES_ALL));
    modules.resize(std::min<size_t>(modules.size(), bytes / sizeof(HMODULE)));
    std::vector<std::wstring> comctl;
    for (HMODULE module : modules) {
        wchar_t path[1024] = {};
        DWORD length = ::GetModuleFileNameExW(quarvel.process(), module, path, static_cast<DWORD>(std::size(path)));
        ::CharLowerBuffW(path, length);
        std::wstring name(path, length);
        if (name.size() >= 13 && name.compare(name.size() - 13, 13, L"\\comctl32.dll") == 0) comctl.push_back(name);
    }
    ASSERT_EQ(comctl.size(), 1u) << "comctl32.dll loaded " << comctl.size() << " times";
    EXPECT_NE(comctl[0].find(L"microsoft.windows.common-controls_6595b64144ccf1df_6."), std::wstring::npos)
        << testing::PrintToString(comctl[0]);
}

TEST_F(WindowTest, FocusStartsHiddenAndTabFollowsTheOrder) {
    quarvel.BringToFront();
    EXPECT_EQ(quarvel.Focus(), quarvel.Control(Ctl::编辑框__)) << "no visible control holds the focus at first";
    EXPECT_EQ(quarvel.Text(Ctl::透明标签4).substr(0, 8), L"打开无操作,将在");

    const Ctl order[] = {Ctl::编辑框1, Ctl::选择框1, Ctl::按钮1, Ctl::按钮2, Ctl::编辑框__, Ctl::编辑框1};
    for (Ctl next : order) {
        PressKey(VK_TAB);
        EXPECT_TRUE(WaitUntil([&] { return quarvel.Focus() == quarvel.Control(next); }, 3s))
            << "Tab should reach control " << static_cast<int>(next);
    }
    // Tabbing into the cache-size box cancelled the countdown.
    EXPECT_EQ(quarvel.Text(Ctl::透明标签4), L"本次已终止自动关闭功能!");
    PressKey(VK_TAB, true);
    EXPECT_TRUE(WaitUntil([&] { return quarvel.Focus() == quarvel.Control(Ctl::编辑框__); }, 3s)) << "Shift+Tab goes back";
}

TEST_F(WindowTest, FocusComesBackToItsControlOnReactivation) {
    quarvel.BringToFront();
    for (int i = 0; i < 4; ++i) PressKey(VK_TAB);
    ASSERT_TRUE(WaitUntil([&] { return quarvel.Focus() == quarvel.Control(Ctl::按钮2); }, 3s));

    // Another application comes to the front, then the user switches back.
    HWND other = ::CreateWindowExW(0, L"STATIC", L"another application", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                                   200, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(other, nullptr);
    ::SetForegroundWindow(other);
    EXPECT_TRUE(WaitUntil(
        [&] {
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
            return ::GetForegroundWindow() == other;
        },
        3s));
    quarvel.BringToFront();
    EXPECT_TRUE(WaitUntil([&] { return quarvel.Focus() == quarvel.Control(Ctl::按钮2); }, 3s));
    ::DestroyWindow(other);
}

TEST_F(WindowTest, CacheSizeBoxTakesOnlyDigitsAndMinusWhenTyped) {
    quarvel.Click(Ctl::编辑框1);
    ASSERT_TRUE(WaitUntil([&] { return quarvel.Focus() == quarvel.Control(Ctl::编辑框1); }, 3s));
    PressKey(VK_END);
    TypeText(L"a1b-2 Z.");
    EXPECT_TRUE(quarvel.WaitForText(Ctl::编辑框1, L"2561-2", 3s)) << "got " << testing::PrintToString(quarvel.Text(Ctl::编辑框1));

    // A paste is not filtered.
    ASSERT_TRUE(SetClipboardText(L"x9 y"));
    PressKey('V', false, true);
    EXPECT_TRUE(quarvel.WaitForText(Ctl::编辑框1, L"2561-2x9 y", 3s)) << "got " << testing::PrintToString(quarvel.Text(Ctl::编辑框1));
}

TEST_F(WindowTest, EnterDoesNothingAndEscClosesWithExitCodeZero) {
    quarvel.BringToFront();
    PressKey(VK_RETURN);
    EXPECT_EQ(quarvel.WaitForExit(500ms), STILL_ACTIVE);
    EXPECT_EQ(quarvel.Text(Ctl::透明标签2), L"memcached.exe - 未运行");
    EXPECT_EQ(driver::ReadServerStarts(quarvel.folder()).size(), 0u) << "Enter must not press the start button";

    PressKey(VK_ESCAPE);
    EXPECT_EQ(quarvel.WaitForExit(5s), 0u);
}

TEST_F(WindowTest, AltF4ClosesWithExitCodeZero) {
    quarvel.BringToFront();
    PressKey(VK_F4, false, false, true);
    EXPECT_EQ(quarvel.WaitForExit(5s), 0u);
}

TEST_F(WindowTest, CloseButtonClosesWithExitCodeZero) {
    quarvel.BringToFront();
    // The close button sits at the right end of the caption.
    RECT frame = quarvel.WindowRect();
    int caption = ::GetSystemMetrics(SM_CYCAPTION), border = ::GetSystemMetrics(SM_CYFIXEDFRAME);
    POINT button{frame.right - border - caption / 2 - 1, frame.top + border + caption / 2};
    DWORD_PTR hit = 0;
    ::SendMessageTimeoutW(quarvel.window(), WM_NCHITTEST, 0, MAKELPARAM(button.x, button.y), SMTO_ABORTIFHUNG, 5000, &hit);
    ASSERT_EQ(hit, static_cast<DWORD_PTR>(HTCLOSE));
    ClickAt(button);
    EXPECT_EQ(quarvel.WaitForExit(5s), 0u);
}

TEST_F(WindowTest, SystemMenuCloseEndsWithExitCodeZero) {
    ::PostMessageW(quarvel.window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(quarvel.WaitForExit(5s), 0u);
}

}  // namespace

// The run directory is the executable's folder, also with blanks and Chinese in its
// path, and it is the current directory the server inherits.
TEST(RunDirectory, IsTheExecutablesFolderEvenWithBlanksAndChinese) {
    Quarvel quarvel(L" 缓存 服务器");
    quarvel.AddRecordingServer();
    ASSERT_TRUE(quarvel.Start());
    quarvel.Click(Ctl::按钮1);
    ASSERT_TRUE(WaitUntil([&] { return !ReadServerStarts(quarvel.folder()).empty(); }, 10s));
    ServerStart start = ReadServerStarts(quarvel.folder()).front();
    EXPECT_EQ(start.currentDirectory, quarvel.folder());
    EXPECT_EQ(start.commandLine, L"\"" + quarvel.folder() + L"\\memcached.exe\" -m 256");
}
