// The start and stop buttons and the status line, driven through the real
// Quarvel.exe with the recording stand-in server beside it.
#include "driver/driver.h"

#include <gtest/gtest.h>

using namespace driver;

namespace {

// Replaces the cache size as a user does: select what is there and paste.
void EnterCacheSize(const Quarvel& quarvel, const std::wstring& text) {
    quarvel.Click(Ctl::编辑框1);
    ASSERT_TRUE(WaitUntil([&] { return quarvel.Focus() == quarvel.Control(Ctl::编辑框1); }, 3s));
    PressKey(VK_HOME);
    PressKey(VK_END, true);
    if (text.empty()) {
        PressKey(VK_DELETE);
    } else {
        ASSERT_TRUE(SetClipboardText(text));
        PressKey('V', false, true);
    }
    ASSERT_TRUE(quarvel.WaitForText(Ctl::编辑框1, text, 3s)) << testing::PrintToString(quarvel.Text(Ctl::编辑框1));
}

// Clicks the start button and waits for the status line to settle.
void StartServer(const Quarvel& quarvel) {
    quarvel.Click(Ctl::按钮1);
    ASSERT_TRUE(quarvel.WaitForText(Ctl::透明标签2, kStarting, 5s));
    ASSERT_TRUE(WaitUntil([&] { return quarvel.Text(Ctl::透明标签2) != kStarting; }, 5s));
}

RECT StatusArea(const Quarvel& quarvel, const Capture& shot) {
    RECT r = quarvel.ControlRect(Ctl::透明标签2);
    return RECT{r.left - shot.area.left, r.top - shot.area.top, r.right - shot.area.left, r.bottom - shot.area.top};
}

int StatusPixels(const Quarvel& quarvel, COLORREF colour) {
    Capture shot = quarvel.CaptureWindow();
    return shot.Count(StatusArea(quarvel, shot), [colour](COLORREF c) { return Tinted(c, colour); });
}

TEST(StartButton, TheServerGetsItsPathMinusMAndTheTextAsOneArgument) {
    Quarvel quarvel;
    quarvel.AddRecordingServer();
    ASSERT_TRUE(quarvel.Start());
    const std::wstring server = quarvel.folder() + L"\\memcached.exe";

    const std::wstring texts[] = {L"128", L"", L"64 -l 0.0.0.0", L"say \"hi\" \\\"", L" 32 "};
    size_t starts = 0;
    for (const std::wstring& text : texts) {
        SCOPED_TRACE(testing::PrintToString(text));
        EnterCacheSize(quarvel, text);
        StartServer(quarvel);
        ASSERT_TRUE(WaitUntil([&] { return ReadServerStarts(quarvel.folder()).size() == starts + 1; }, 5s));
        ServerStart start = ReadServerStarts(quarvel.folder()).back();
        ++starts;
        std::vector<std::wstring> args = ParseCommandLine(start.commandLine);
        ASSERT_EQ(args.size(), 3u) << testing::PrintToString(start.commandLine);
        EXPECT_EQ(args[0], server);
        EXPECT_EQ(args[1], L"-m");
        EXPECT_EQ(args[2], text);
        EXPECT_EQ(start.currentDirectory, quarvel.folder());
        if (text == L"128") {
            EXPECT_EQ(start.commandLine, server + L" -m 128") << "a plain folder needs no quotes";
        }
        EXPECT_EQ(CountProcesses(L"memcached.exe"), 1) << "a restart leaves one server";
    }
}

TEST(StartButton, AFolderWithBlanksAndChineseIsPassedWholeAndNothingIsSearched) {
    Quarvel quarvel(L" 缓存 服务");
    quarvel.AddRecordingServer();
    // Where an unquoted path would be cut at its first blank, a decoy waits.
    std::wstring decoy = quarvel.folder().substr(0, quarvel.folder().find(L' ')) + L".exe";
    ASSERT_TRUE(::CopyFileW((BinDirectory() + L"\\recording_memcached.exe").c_str(), decoy.c_str(), FALSE));
    std::wstring decoyRecord = decoy.substr(0, decoy.rfind(L'\\')) + L"\\memcached-record.bin";
    ::DeleteFileW(decoyRecord.c_str());
    ASSERT_TRUE(quarvel.Start());

    StartServer(quarvel);
    EXPECT_EQ(quarvel.Text(Ctl::透明标签2), kRunning);
    std::vector<ServerStart> starts = ReadServerStarts(quarvel.folder());
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].commandLine, L"\"" + quarvel.folder() + L"\\memcached.exe\" -m 256");
    EXPECT_EQ(::GetFileAttributesW(decoyRecord.c_str()), INVALID_FILE_ATTRIBUTES) << "the decoy ran";
    quarvel.Kill();
    KillAll(L"memcached.exe");
    ::DeleteFileW(decoy.c_str());
    ::DeleteFileW(decoyRecord.c_str());
}

TEST(StatusLine, GreenForAboutASecondThenBlueOnScreen) {
    Quarvel quarvel;
    quarvel.AddRecordingServer();
    ASSERT_TRUE(quarvel.Start());
    EXPECT_EQ(quarvel.Text(Ctl::透明标签2), kNotRunning);
    EXPECT_GT(StatusPixels(quarvel, 0x0000FF), 60) << "red at first";

    quarvel.Click(Ctl::按钮1);
    ASSERT_TRUE(quarvel.WaitForText(Ctl::透明标签2, kStarting, 5s));
    auto green = Clock::now();
    EXPECT_EQ(quarvel.LabelColour(Ctl::透明标签2), 0x008000u);
    EXPECT_GT(StatusPixels(quarvel, 0x008000), 60) << "green while starting";
    EXPECT_EQ(StatusPixels(quarvel, 0x0000FF), 0) << "nothing of the old red text is left";
    ASSERT_TRUE(WaitUntil([&] { return quarvel.Text(Ctl::透明标签2) != kStarting; }, 3s));
    EXPECT_NEAR(Since(green), 1.0, 0.3);
    EXPECT_EQ(quarvel.Text(Ctl::透明标签2), kRunning);
    EXPECT_EQ(quarvel.LabelColour(Ctl::透明标签2), 0xFF0000u);
    EXPECT_GT(StatusPixels(quarvel, 0xFF0000), 60) << "blue when running";
    EXPECT_EQ(StatusPixels(quarvel, 0x008000), 0);
}

TEST(StatusLine, RedWhenTheServerIsMissingOrExitsAtOnce) {
    struct Case {
        const char* what;
        bool server;
        const char* exitCode;
    };
    for (Case c : {Case{"missing", false, nullptr}, Case{"exits at once", true, "1"}}) {
        SCOPED_TRACE(c.what);
        Quarvel quarvel;
        if (c.server) quarvel.AddRecordingServer();
        if (c.exitCode) quarvel.AddFile(L"memcached-exit.txt", c.exitCode);
        ASSERT_TRUE(quarvel.Start());
        StartServer(quarvel);
        EXPECT_EQ(quarvel.Text(Ctl::透明标签2), kNotRunning);
        EXPECT_GT(StatusPixels(quarvel, 0x0000FF), 60);
        EXPECT_EQ(StatusPixels(quarvel, 0x008000), 0);
        if (c.server) {
            EXPECT_EQ(ReadServerStarts(quarvel.folder()).size(), 1u) << "it was started";
        }
        EXPECT_EQ(CountProcesses(L"memcached.exe"), 0);
    }
}

TEST(StopButton, EndsARunningServerAndShowsRed) {
    Quarvel quarvel;
    quarvel.AddRecordingServer();
    ASSERT_TRUE(quarvel.Start());
    StartServer(quarvel);
    ASSERT_EQ(CountProcesses(L"memcached.exe"), 1);

    quarvel.Click(Ctl::按钮2);
    ASSERT_TRUE(WaitUntil([&] { return CountProcesses(L"memcached.exe") == 0; }, 5s));
    EXPECT_TRUE(quarvel.WaitForText(Ctl::透明标签2, kNotRunning, 3s));
    EXPECT_GT(StatusPixels(quarvel, 0x0000FF), 60);
}

TEST(StopButton, WithNoServerRunningChangesNothing) {
    Quarvel quarvel;
    quarvel.AddRecordingServer();
    ASSERT_TRUE(quarvel.Start());
    StartServer(quarvel);
    // The server dies behind Quarvel's back: the line still says it runs, and a
    // stop that finds nothing to end leaves the line as it was.
    ASSERT_EQ(KillAll(L"memcached.exe"), 1);
    quarvel.Click(Ctl::按钮2);
    ::Sleep(4000);
    EXPECT_EQ(quarvel.Text(Ctl::透明标签2), kRunning);
    EXPECT_EQ(ReadServerStarts(quarvel.folder()).size(), 1u);
    EXPECT_TRUE(quarvel.Running());
}

TEST(StartButton, ASecondClickDuringThePauseEndsWithOneServerAndATrueLine) {
    Quarvel quarvel;
    quarvel.AddRecordingServer();
    ASSERT_TRUE(quarvel.Start());
    quarvel.Click(Ctl::按钮1);
    ::Sleep(700);
    quarvel.Click(Ctl::按钮1);  // inside the first click's 2-second pause
    ASSERT_TRUE(WaitUntil([&] { return ReadServerStarts(quarvel.folder()).size() == 2; }, 10s));
    ::Sleep(2500);
    EXPECT_EQ(CountProcesses(L"memcached.exe"), 1);
    EXPECT_EQ(quarvel.Text(Ctl::透明标签2), kRunning);
}

TEST(StartButton, ClosingMidRestartLeavesTheServerRunning) {
    Quarvel quarvel;
    quarvel.AddRecordingServer();
    ASSERT_TRUE(quarvel.Start());
    quarvel.Click(Ctl::按钮1);
    ASSERT_TRUE(quarvel.WaitForText(Ctl::透明标签2, kStarting, 5s));
    PressKey(VK_ESCAPE);
    EXPECT_EQ(quarvel.WaitForExit(3s), 0u);
    EXPECT_EQ(CountProcesses(L"memcached.exe"), 1) << "closing Quarvel never stops the server";
}

}  // namespace
