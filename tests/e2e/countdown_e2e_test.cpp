// The 30-second auto-close countdown, its cancelling, and pauses that keep the
// window answering, seen from outside the real Quarvel.exe.
#include "driver/driver.h"

#include <gtest/gtest.h>

#include <vector>

using namespace driver;

namespace {

int OuterHeight(const Quarvel& q) {
    RECT r = q.WindowRect();
    return r.bottom - r.top;
}

bool IsCentred(const Quarvel& q) {
    RECT r = q.WindowRect();
    return r.left == (::GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2 &&
           r.top == (::GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2;
}

std::wstring TickText(int seconds) {
    return L"打开无操作,将在" + std::to_wstring(seconds) + L"秒,关闭!\r\n可点这里关闭倒计时!";
}

// A server that Quarvel did not start must survive Quarvel's ending.
struct ForeignServer {
    std::wstring folder = MakeTempFolder(L"-server");
    UniqueHandle process;
    ForeignServer() {
        std::wstring exe = folder + L"\\memcached.exe";
        ::CopyFileW((BinDirectory() + L"\\recording_memcached.exe").c_str(), exe.c_str(), FALSE);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        std::wstring line = L"\"" + exe + L"\"";
        if (::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                             &startup, &info)) {
            process.reset(info.hProcess);
            ::CloseHandle(info.hThread);
        }
    }
    bool Running() const { return process && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT; }
    ~ForeignServer() {
        if (Running()) ::TerminateProcess(process.get(), 0);
        if (process) ::WaitForSingleObject(process.get(), 5000);
        RemoveFolder(folder);
    }
};

TEST(Countdown, LeftAloneCountsDownAndEndsOnTheThirtiethTick) {
    ForeignServer server;
    ASSERT_TRUE(server.Running());
    Quarvel quarvel;
    ASSERT_TRUE(quarvel.Start());
    auto shown = Clock::now();

    std::vector<std::wstring> seen;
    while (quarvel.Running() && Since(shown) < 40) {
        std::wstring text = quarvel.Text(Ctl::透明标签4);
        if (!text.empty() && text != L"<no answer>" && (seen.empty() || seen.back() != text)) seen.push_back(text);
        ::Sleep(50);
    }
    DWORD code = quarvel.WaitForExit(5s);
    double lasted = Since(shown);

    EXPECT_EQ(code, 0u);
    EXPECT_NEAR(lasted, 30.0, 1.5) << "ends on the thirtieth tick";
    ASSERT_FALSE(seen.empty());
    // Every second from the first seen value down to 1, none skipped, none repeated.
    int first = 30;
    while (first > 0 && seen.front() != TickText(first)) --first;
    ASSERT_GE(first, 28) << "first text seen: " << testing::PrintToString(seen.front());
    ASSERT_EQ(seen.size(), static_cast<size_t>(first));
    for (int i = 0; i < first; ++i) EXPECT_EQ(seen[static_cast<size_t>(i)], TickText(first - i));
    EXPECT_TRUE(server.Running()) << "the server is left alone";
}

TEST(Countdown, ClickingTheLineCancelsShrinksAndKeepsTheWindowOpen) {
    Quarvel quarvel;
    ASSERT_TRUE(quarvel.Start());
    auto shown = Clock::now();
    ASSERT_EQ(OuterHeight(quarvel), 309);

    // A double click raises the press event once: a second, nested cancel would
    // finish 2 s after the second press, not after the first.
    quarvel.BringToFront();
    RECT line = quarvel.ControlRect(Ctl::透明标签4);
    POINT centre{(line.left + line.right) / 2, (line.top + line.bottom) / 2};
    MoveMouse(centre);
    auto clicked = Clock::now();
    ClickAt(centre);
    ::Sleep(300);
    ClickAt(centre);
    EXPECT_TRUE(quarvel.WaitForText(Ctl::透明标签4, kCancelled, 500ms));
    EXPECT_EQ(OuterHeight(quarvel), 309) << "the window keeps its size during the pause";
    ASSERT_TRUE(WaitUntil([&] { return OuterHeight(quarvel) == 264; }, 4s));
    EXPECT_NEAR(Since(clicked), 2.0, 0.2) << "shrunk 2 s after the first press";
    // Shrinking and centring are two moves; another process can see the first alone.
    EXPECT_TRUE(WaitUntil([&] { return IsCentred(quarvel); }, 500ms));
    EXPECT_EQ(quarvel.WindowRect().right - quarvel.WindowRect().left, 262);
    RECT client{};
    ::GetClientRect(quarvel.window(), &client);
    ::MapWindowPoints(quarvel.window(), HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
    EXPECT_GE(quarvel.ControlRect(Ctl::透明标签4).top, client.bottom) << "the countdown line is cut off the bottom";
    EXPECT_LE(quarvel.ControlRect(Ctl::超级链接框1).bottom, client.bottom) << "the link stays in view";

    // A second cancel re-centres a window the user had moved.
    RECT r = quarvel.WindowRect();
    ::SetWindowPos(quarvel.window(), nullptr, 20, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ASSERT_TRUE(WaitUntil([&] { return quarvel.WindowRect().left == 20; }, 2s));
    quarvel.Click(Ctl::按钮2);  // no server runs: the stop button only cancels
    ASSERT_TRUE(WaitUntil([&] { return IsCentred(quarvel); }, 4s));
    EXPECT_EQ(quarvel.WindowRect().left, r.left);

    // Well past the countdown's thirty seconds, the window is still open.
    while (Since(shown) < 33) ::Sleep(200);
    EXPECT_TRUE(quarvel.Running());
    EXPECT_EQ(quarvel.Text(Ctl::透明标签4), kCancelled);
}

TEST(Countdown, ClickingIntoTheCacheSizeBoxCancelsBeforeAnythingIsTyped) {
    Quarvel quarvel;
    ASSERT_TRUE(quarvel.Start());
    quarvel.Click(Ctl::编辑框1);
    EXPECT_TRUE(quarvel.WaitForText(Ctl::透明标签4, kCancelled, 1s));
    EXPECT_EQ(quarvel.Text(Ctl::编辑框1), L"256");
    EXPECT_TRUE(WaitUntil([&] { return OuterHeight(quarvel) == 264; }, 4s));
}

// Closing the window in the middle of a 2-second pause ends the process inside the
// pause, with exit code 0 and nothing shown.
TEST(Pause, ClosingDuringAPauseEndsAtOnceWithExitCodeZero) {
    struct Case {
        const char* how;
        bool escape;
    };
    for (Case c : {Case{"Esc", true}, Case{"close", false}}) {
        SCOPED_TRACE(c.how);
        Quarvel quarvel;
        ASSERT_TRUE(quarvel.Start());
        quarvel.Click(Ctl::透明标签4);
        ASSERT_TRUE(quarvel.WaitForText(Ctl::透明标签4, kCancelled, 1s));
        auto clicked = Clock::now();
        ::Sleep(500);
        if (c.escape)
            PressKey(VK_ESCAPE);
        else
            ::PostMessageW(quarvel.window(), WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_EQ(quarvel.WaitForExit(5s), 0u);
        EXPECT_LT(Since(clicked), 1.5) << "ended inside the pause";
    }
}

// The window answers while a handler pauses: a message sent from this process
// during the 2-second pause comes back at once.
TEST(Pause, WindowAnswersDuringAPause) {
    Quarvel quarvel;
    ASSERT_TRUE(quarvel.Start());
    quarvel.Click(Ctl::透明标签4);
    ASSERT_TRUE(quarvel.WaitForText(Ctl::透明标签4, kCancelled, 1s));
    double longest = 0;
    int answered = 0;
    auto start = Clock::now();
    while (Since(start) < 1.5) {
        auto sent = Clock::now();
        DWORD_PTR result = 0;
        if (::SendMessageTimeoutW(quarvel.window(), WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result)) ++answered;
        longest = std::max(longest, Since(sent));
        ::Sleep(20);
    }
    EXPECT_GT(answered, 20);
    EXPECT_LT(longest, 0.2);
    EXPECT_EQ(OuterHeight(quarvel), 309) << "still inside the pause";
}

// Ending the program from the worker while the window's thread pauses: the end
// happens inside the pause and the paused code never resumes. A probe program
// built from Quarvel's own routines stands in for the two threads.
// Runs a probe program built from Quarvel's own routines in `folder`, to its end.
struct ProbeRun {
    bool ended = false;
    DWORD code = STILL_ACTIVE;
    double seconds = 0;
};

ProbeRun RunProbe(const std::wstring& name, const std::wstring& folder) {
    ProbeRun run;
    std::wstring exe = folder + L"\\" + name;
    if (!::CopyFileW((BinDirectory() + L"\\" + name).c_str(), exe.c_str(), FALSE)) return run;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    std::wstring line = L"\"" + exe + L"\"";
    auto started = Clock::now();
    if (!::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                          &info))
        return run;
    UniqueHandle process(info.hProcess), thread(info.hThread);
    run.ended = ::WaitForSingleObject(process.get(), 10000) == WAIT_OBJECT_0;
    run.seconds = Since(started);
    ::GetExitCodeProcess(process.get(), &run.code);
    if (!run.ended) ::TerminateProcess(process.get(), 1);
    return run;
}

TEST(Pause, EndingFromTheWorkerHappensInsideThePause) {
    std::wstring folder = MakeTempFolder(L"-probe");
    ProbeRun run = RunProbe(L"end_in_pause_probe.exe", folder);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.code, 3u) << "the worker's exit code";
    EXPECT_LT(run.seconds, 2.5) << "ended inside the 3-second pause";
    std::string marks = ReadFileBytes(folder + L"\\probe.txt");
    EXPECT_EQ(marks, "paused\n") << "the paused code resumed";
    RemoveFolder(folder);
}

// Closing the window while a restart waits for the old server to go still starts
// the new one, with the size in the box, and then ends with exit code 0 in the
// pause that follows the start: closing Quarvel never stops the server.
TEST(Pause, ClosingWhileTheOldServerGoesStillStartsTheNewOne) {
    KillAll(L"memcached.exe");
    // A server left running would hold this test's output open.
    struct EndServers {
        ~EndServers() { KillAll(L"memcached.exe"); }
    } endServers;
    std::wstring folder = MakeTempFolder(L"-probe");
    ASSERT_TRUE(::CopyFileW((BinDirectory() + L"\\recording_memcached.exe").c_str(),
                            (folder + L"\\memcached.exe").c_str(), FALSE));
    ProbeRun run = RunProbe(L"close_in_restart_probe.exe", folder);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.code, 0u);
    EXPECT_EQ(ReadFileBytes(folder + L"\\probe.txt"), "first\n") << "the restart went on after the close";
    // The new server writes its record as it starts, which may be after the probe ended.
    std::vector<ServerStart> starts;
    WaitUntil([&] { return (starts = ReadServerStarts(folder)).size() >= 2; }, 5s);
    ASSERT_EQ(starts.size(), 2u) << "the old server was ended and no new one started";
    EXPECT_EQ(starts[1].commandLine, folder + L"\\memcached.exe -m 512") << "the size in the box at the click";
    EXPECT_EQ(CountProcesses(L"memcached.exe"), 1);
    KillAll(L"memcached.exe");
    RemoveFolder(folder);
}

}  // namespace
