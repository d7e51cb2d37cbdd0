#include "util/delay.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

TEST(DelayDueTime, IsARelativeCountOf100NanosecondIntervals) {
    EXPECT_EQ(DelayDueTime(2000, Milliseconds), -20'000'000LL);
    EXPECT_EQ(DelayDueTime(1, Seconds), -10'000'000LL);
    EXPECT_EQ(DelayDueTime(30, Seconds), -300'000'000LL);
    EXPECT_EQ(DelayDueTime(2, Minutes), -1'200'000'000LL);
    EXPECT_EQ(DelayDueTime(1, Hours), -36'000'000'000LL);
    EXPECT_EQ(DelayDueTime(0, Seconds), 0);
    EXPECT_LT(DelayDueTime(INT_MAX, Hours), -9'000'000'000'000'000'000LL) << "clamped, not wrapped";
    EXPECT_EQ(DelayDueTime(5, static_cast<DelayUnit>(9)), -50'000LL) << "an unknown unit counts milliseconds";
}

// A window on the pausing thread, and a thread that keeps sending it messages and
// measures how long each takes to be answered.
struct Responder {
    HWND window = nullptr;
    std::atomic<bool> stop{false};
    std::atomic<long long> longestMicros{0};
    std::atomic<int> answered{0};
    HANDLE thread = nullptr;

    Responder() {
        WNDCLASSW wc{};
        wc.lpszClassName = L"DelayProbe";
        wc.lpfnWndProc = ::DefWindowProcW;
        ::RegisterClassW(&wc);
        window = ::CreateWindowW(wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        thread = ::CreateThread(nullptr, 0, &Responder::Run, this, 0, nullptr);
    }
    ~Responder() {
        stop = true;
        // The sender may be waiting for this thread: keep answering until it is done.
        while (::MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        }
        ::CloseHandle(thread);
        ::DestroyWindow(window);
    }
    static DWORD WINAPI Run(void* self) {
        auto* r = static_cast<Responder*>(self);
        while (!r->stop) {
            auto start = Clock::now();
            ::SendMessageW(r->window, WM_NULL, 0, 0);
            auto micros = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
            if (r->stop) break;
            r->longestMicros = std::max<long long>(r->longestMicros, micros);
            ++r->answered;
            ::Sleep(20);
        }
        return 0;
    }
};

TEST(DelayWithEvents, TwoSecondsWhileMessagesAreAnswered) {
    Responder responder;
    ::Sleep(50);
    responder.longestMicros = 0;
    responder.answered = 0;
    auto start = Clock::now();
    EXPECT_EQ(DelayWithEvents(2000), 1);
    double elapsed = SecondsSince(start);
    EXPECT_NEAR(elapsed, 2.0, 0.25);
    EXPECT_GT(responder.answered.load(), 30) << "messages sent during the pause were answered";
    EXPECT_LT(responder.longestMicros.load(), 200'000) << "longest round trip in microseconds";
}

TEST(DelayWithEvents, UnitSecondsMultipliesByAThousand) {
    auto start = Clock::now();
    DelayWithEvents(1, Seconds);
    EXPECT_NEAR(SecondsSince(start), 1.0, 0.2);
}

TEST(DelayWithEvents, ZeroReturnsAtOnceAfterHandlingWhatIsPending) {
    static int handled;
    handled = 0;
    WNDCLASSW wc{};
    wc.lpszClassName = L"DelayZeroProbe";
    wc.lpfnWndProc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_APP) ++handled;
        return ::DefWindowProcW(w, m, wp, lp);
    };
    ::RegisterClassW(&wc);
    HWND probe = ::CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ::PostMessageW(probe, WM_APP, 0, 0);
    ::PostMessageW(probe, WM_APP, 0, 0);
    auto start = Clock::now();
    EXPECT_EQ(DelayWithEvents(0), 1);
    EXPECT_LT(SecondsSince(start), 0.1);
    EXPECT_EQ(handled, 2);
    ::DestroyWindow(probe);
}

// A message handled inside a pause runs at once, nested; the paused caller still
// waits its own full time.
TEST(DelayWithEvents, NestedPauseRunsInsideAndOuterKeepsItsTime) {
    static Clock::time_point innerStarted, innerEnded;
    WNDCLASSW wc{};
    wc.lpszClassName = L"DelayNestProbe";
    wc.lpfnWndProc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_APP) {
            innerStarted = Clock::now();
            DelayWithEvents(500);
            innerEnded = Clock::now();
        }
        return ::DefWindowProcW(w, m, wp, lp);
    };
    ::RegisterClassW(&wc);
    HWND probe = ::CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    struct Poster {
        static DWORD WINAPI Run(void* window) {
            ::Sleep(300);
            ::PostMessageW(static_cast<HWND>(window), WM_APP, 0, 0);
            return 0;
        }
    };
    HANDLE poster = ::CreateThread(nullptr, 0, Poster::Run, probe, 0, nullptr);
    auto start = Clock::now();
    DelayWithEvents(1000);
    double total = SecondsSince(start);
    double innerAt = std::chrono::duration<double>(innerStarted - start).count();
    double innerLength = std::chrono::duration<double>(innerEnded - innerStarted).count();
    EXPECT_NEAR(innerAt, 0.3, 0.1) << "the posted message ran at once, inside the pause";
    EXPECT_NEAR(innerLength, 0.5, 0.1);
    EXPECT_NEAR(total, 1.0, 0.15);
    ::WaitForSingleObject(poster, INFINITE);
    ::CloseHandle(poster);
    ::DestroyWindow(probe);
}

}  // namespace
