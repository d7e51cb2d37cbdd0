// Quarvel's window built inside the test process, for what is drawn when a label
// changes: the label paints nothing of its own, and a change shows within the call.
#include "app/program.h"
#include "app/window.h"
#include "driver/driver.h"

#include <gtest/gtest.h>

using namespace driver;

namespace {

class InProcessWindow : public ::testing::Test {
protected:
    void SetUp() override {
        InitialiseProgram(::GetModuleHandleW(nullptr));
        window = CreateMainWindow(::GetModuleHandleW(nullptr));
        ASSERT_NE(window, nullptr);
        ::ShowWindow(window, SW_SHOWNORMAL);
        ::SetForegroundWindow(window);
        Pump(300);
    }
    void TearDown() override {
        if (MainWindow()) ::DestroyWindow(MainWindow());
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    // Lets the window's thread (this one) handle what is pending for a while.
    static void Pump(int milliseconds) {
        auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
        while (Clock::now() < end) {
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) return;
                DispatchQueuedMessage(msg);
            }
            ::Sleep(5);
        }
    }
    // What the control shows, read from its own surface: the screen itself is
    // brought up to date by Wine only later, when the thread next takes messages.
    static Capture Shot(Ctl c) {
        HWND control = ControlWindow(c);
        RECT r;
        ::GetClientRect(control, &r);
        Capture capture;
        capture.area = r;
        HDC source = ::GetDC(control);
        HDC memory = ::CreateCompatibleDC(source);
        HBITMAP bitmap = ::CreateCompatibleBitmap(source, r.right, r.bottom);
        HGDIOBJ old = ::SelectObject(memory, bitmap);
        ::BitBlt(memory, 0, 0, r.right, r.bottom, source, 0, 0, SRCCOPY);
        for (int y = 0; y < r.bottom; ++y)
            for (int x = 0; x < r.right; ++x) capture.pixels.push_back(::GetPixel(memory, x, y));
        ::SelectObject(memory, old);
        ::DeleteObject(bitmap);
        ::DeleteDC(memory);
        ::ReleaseDC(control, source);
        return capture;
    }
    HWND window = nullptr;
};

int Pixels(const Capture& shot) { return shot.width() * shot.height(); }

TEST_F(InProcessWindow, AnEmptyLabelPaintsNothing) {
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    Capture before = Shot(Ctl::透明标签3);
    ASSERT_GT(before.Count({0, 0, before.width(), before.height()}, Greyish), 100);

    SetLabelText(Ctl::透明标签3, L"");
    Capture after = Shot(Ctl::透明标签3);  // no pumping: the repaint happens within the call
    EXPECT_EQ(after.Count({0, 0, after.width(), after.height()}, face), Pixels(after))
        << "only the window's own background shows where the label lies";
}

TEST_F(InProcessWindow, ANewTextOrColourReplacesTheOldAtOnce) {
    // A long text, then a short one: nothing of the long one may stay behind.
    SetLabelTextColour(Ctl::透明标签2, 0x0000FF);
    SetLabelText(Ctl::透明标签2, L"memcached.exe - 未运行 未运行 未运行");
    Capture wide = Shot(Ctl::透明标签2);
    RECT all{0, 0, wide.width(), wide.height()};
    RECT leftQuarter{0, 0, wide.width() / 4, wide.height()};
    ASSERT_GT(wide.Count(leftQuarter, [](COLORREF c) { return Tinted(c, 0x0000FF); }), 10);

    SetLabelTextColour(Ctl::透明标签2, 0x008000);
    SetLabelText(Ctl::透明标签2, L"启动中");
    Capture shortText = Shot(Ctl::透明标签2);
    EXPECT_EQ(shortText.Count(all, [](COLORREF c) { return Tinted(c, 0x0000FF); }), 0) << "old red glyphs left";
    EXPECT_EQ(shortText.Count(leftQuarter, [](COLORREF c) { return Tinted(c, 0x008000); }), 0)
        << "the short text is centred";
    EXPECT_GT(shortText.Count(all, [](COLORREF c) { return Tinted(c, 0x008000); }), 20);

    // A colour change alone repaints too.
    SetLabelTextColour(Ctl::透明标签2, 0xFF0000);
    Capture blue = Shot(Ctl::透明标签2);
    EXPECT_EQ(blue.Count(all, [](COLORREF c) { return Tinted(c, 0x008000); }), 0);
    EXPECT_GT(blue.Count(all, [](COLORREF c) { return Tinted(c, 0xFF0000); }), 20);
}

TEST_F(InProcessWindow, TheLinkTurnsMagentaUnderThePointer) {
    RECT link;
    ::GetWindowRect(ControlWindow(Ctl::超级链接框1), &link);
    auto magenta = [](COLORREF c) {
        return GetRValue(c) - GetGValue(c) > 60 && GetBValue(c) - GetGValue(c) > 60;
    };
    Capture before = CaptureScreen(link);
    RECT all{0, 0, before.width(), before.height()};
    EXPECT_GT(before.Count(all, [](COLORREF c) { return Tinted(c, 0xFF0000); }), 20);
    EXPECT_EQ(before.Count(all, magenta), 0);

    MoveMouse({(link.left + link.right) / 2, (link.top + link.bottom) / 2});
    Pump(200);
    Capture hovered = CaptureScreen(link);
    EXPECT_GT(hovered.Count(all, magenta), 20);
    EXPECT_EQ(::GetCapture(), ControlWindow(Ctl::超级链接框1)) << "the link follows the pointer out";

    MoveMouse({link.left - 40, link.top - 40});
    Pump(200);
    Capture left = CaptureScreen(link);
    EXPECT_EQ(left.Count(all, magenta), 0);
    EXPECT_EQ(::GetCapture(), nullptr);
}

}  // namespace
