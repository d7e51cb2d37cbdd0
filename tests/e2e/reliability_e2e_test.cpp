// Quarvel under stress and in a broken world, driven through the real Quarvel.exe:
// a long run of starts, restarts and stops against the real memcached with clicks
// landing inside each other's pauses, cache-size texts no one should enter, and
// missing, broken or locked files around it. Whatever happens, Quarvel keeps
// running and answering, its status line tells the truth, no dialog of its own
// appears unless it means to show one, and no server runs that the user did not
// start.
#include "driver/driver.h"
#include "driver/memcached_client.h"

#include <gtest/gtest.h>

#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace driver;

namespace {

constexpr wchar_t kServer[] = L"memcached.exe";

std::string Utf16File(const std::wstring& text) {
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    return bytes;
}

std::wstring IniPath(const Quarvel& q) { return q.folder() + L"\\Quarvel.ini"; }

// Visible dialog windows of the process: message boxes and error reports alike.
int VisibleDialogs(DWORD processId) { return static_cast<int>(VisibleWindowsOf(processId, L"#32770").size()); }

// Alive, and its window takes a message within two seconds even while a handler
// pauses.
bool Answers(const Quarvel& q) {
    DWORD_PTR ignored = 0;
    return q.Running() && ::SendMessageTimeoutW(q.window(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored) != 0;
}

// The status line agrees with the process list: exactly one of the two texts,
// and the right one.
void ExpectTrueStatus(const Quarvel& q) {
    const int servers = CountProcesses(kServer);
    EXPECT_LE(servers, 1);
    EXPECT_EQ(q.Text(Ctl::透明标签2), servers > 0 ? kRunning : kNotRunning) << servers << " servers run";
}

// Clicks into the cache-size box unless it has the focus already. Two clicks on
// one spot in quick succession make a double click, which moves no focus, so the
// click lands on the left or the right of the box by turns.
void FocusCacheBox(const Quarvel& q) {
    static bool right = false;
    if (q.Focus() == q.Control(Ctl::编辑框1)) return;
    q.BringToFront();
    RECT box = q.ControlRect(Ctl::编辑框1);
    right = !right;
    const LONG third = (box.right - box.left) / 3;
    ClickAt({right ? box.right - third : box.left + third, (box.top + box.bottom) / 2});
    ASSERT_TRUE(WaitUntil([&] { return q.Focus() == q.Control(Ctl::编辑框1); }, 3s)) << "the box took no focus";
}

// Replaces the cache size as a user does: select what is there and paste.
void PasteCacheSize(const Quarvel& q, const std::wstring& text) {
    FocusCacheBox(q);
    PressKey(VK_HOME);
    PressKey(VK_END, true);
    if (text.empty()) {
        PressKey(VK_DELETE);
    } else {
        ASSERT_TRUE(SetClipboardText(text));
        PressKey('V', false, true);
    }
    ASSERT_TRUE(q.WaitForText(Ctl::编辑框1, text, 5s))
        << "shows " << testing::PrintToString(q.Text(Ctl::编辑框1).substr(0, 80));
}

// The first touch cancels the countdown and, 2 s later, shrinks and centres the
// window; a click aimed before that move could miss. This touch is over with.
void TouchAndWaitForTheWindowToSettle(const Quarvel& q) {
    q.Click(Ctl::透明标签4);
    ASSERT_TRUE(WaitUntil(
        [&] {
            RECT r = q.WindowRect();
            return r.bottom - r.top == 264 && r.top == (::GetSystemMetrics(SM_CYSCREEN) - 264) / 2;
        },
        5s));
}

// ---- Restart soak ---------------------------------------------------------------

// A hundred clicks on the start and stop buttons against the real memcached, each
// a random 0.2 to 2.5 seconds after the one before: most land inside the 2-second
// pause of the click before and run nested in it, some inside the 1-second pause
// after a start. The size changes before most clicks. The clicks come in bursts of
// 10 to 16; after each burst the test waits until Quarvel is quiet and checks what
// the user would see against what really runs. (Nested clicks run their actions
// last-clicked first once the pauses are over, and every start and every stop
// that ends a server waits a second of its own, so a hundred clicks take over two
// minutes however they are spread; a check after every click would take five.)
class RestartSoak : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(winsock.ok());
        KillAll(kServer);
        ASSERT_FALSE(PortOpen()) << "something already listens on port 11211; this test needs it free";
        quarvel.AddBridgeServer();
    }
    void TearDown() override {
        quarvel.Kill();
        KillAll(kServer);
        WaitUntil([] { return !PortOpen(); }, 3s);
    }

    // Quiet: every pause of every click has run out and the last action has
    // refreshed the status line. A click's own pause ends 2 s after it; after
    // that, the actions still waiting run one after the other, each showing at
    // once (a start turns the line green, a stop ends the server) and ending with
    // a refresh that makes the line agree with the process list. So Quarvel is
    // quiet once 2 s have passed since the last click and the line has agreed
    // with the process list for a moment. A line that never agrees again is what
    // this test is looking for; it ends the wait unsettled.
    bool WaitUntilQuiet(Clock::time_point lastClick) {
        auto agreeing = [&] {
            const std::wstring line = quarvel.Text(Ctl::透明标签2);
            const int servers = CountProcesses(kServer);
            return (line == kRunning && servers == 1) || (line == kNotRunning && servers == 0);
        };
        auto since = Clock::now();
        const auto deadline = Clock::now() + 30s;
        while (Clock::now() < deadline) {
            ::Sleep(50);
            if (!agreeing()) since = Clock::now();
            if (Since(lastClick) >= 2.5 && Since(since) >= 0.5) return true;
        }
        return false;
    }

    WinsockSession winsock;
    Quarvel quarvel;
};

TEST_F(RestartSoak, AHundredStartsRestartsAndStopsInsideEachOthersPausesLeaveOneTrueServer) {
    constexpr unsigned kSeed = 20240611;
    constexpr int kCycles = 100;
    std::cout << "[ soak     ] seed " << kSeed << std::endl;
    RecordProperty("seed", static_cast<int>(kSeed));
    std::mt19937 random(kSeed);
    auto chance = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(random) < p; };
    auto between = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };

    ASSERT_TRUE(quarvel.Start());
    const auto begun = Clock::now();
    TouchAndWaitForTheWindowToSettle(quarvel);

    std::wstring size = quarvel.Text(Ctl::编辑框1);
    std::string lastPid;
    int cycle = 0, starts = 0, stops = 0, pastes = 0, checks = 0;
    const auto giveUp = begun + 240s;
    while (cycle < kCycles && !HasFatalFailure() && Clock::now() < giveUp) {
        const int burst = between(10, 16);
        Clock::time_point lastClick;
        std::ostringstream plan;
        for (int i = 0; i < burst && cycle < kCycles; ++i) {
            ++cycle;
            if (i > 0) {
                // Mostly inside the last click's 2-second pause; now and then inside
                // the 1-second pause after a start (2.0 to 2.5 s on), or anywhere.
                const double kind = std::uniform_real_distribution<double>(0, 1)(random);
                const int offsetMs = kind < 0.8   ? between(200, 300)
                                     : kind < 0.9 ? between(2050, 2500)
                                                  : between(300, 2050);
                plan << " +" << offsetMs << "ms";
                const auto due = lastClick + std::chrono::milliseconds(offsetMs);
                while (Clock::now() < due) ::Sleep(5);
            }
            // A new size before most clicks: usually set as a program would, now and
            // then pasted, which also moves the focus into the box and out again.
            if (chance(0.7)) {
                size = std::to_wstring(between(16, 512));
                if (chance(0.15)) {
                    ++pastes;
                    plan << " paste " << std::string(size.begin(), size.end());
                    PasteCacheSize(quarvel, size);
                    lastClick = Clock::now();
                } else {
                    ::SendMessageW(quarvel.Control(Ctl::编辑框1), WM_SETTEXT, 0,
                                   reinterpret_cast<LPARAM>(size.c_str()));
                }
            }
            const bool start = chance(0.4);
            (start ? starts : stops)++;
            plan << (start ? " start " : " stop ") << std::string(size.begin(), size.end());
            quarvel.Click(start ? Ctl::按钮1 : Ctl::按钮2);
            lastClick = Clock::now();
            // Between clicks nothing is settled, but some things hold all the time.
            ASSERT_TRUE(Answers(quarvel)) << "cycle " << cycle;
            ASSERT_LE(CountProcesses(kServer), 1) << "cycle " << cycle;
            ASSERT_EQ(VisibleDialogs(quarvel.processId()), 0) << "cycle " << cycle;
        }
        SCOPED_TRACE("after cycle " + std::to_string(cycle) + ":" + plan.str());
        ASSERT_TRUE(WaitUntilQuiet(lastClick))
            << "the status line " << testing::PrintToString(quarvel.Text(Ctl::透明标签2))
            << " never came to agree with " << CountProcesses(kServer) << " servers running";
        ++checks;
        std::cout << "[ soak     ] " << Since(begun) << " s, cycle " << cycle << ":" << plan.str() << " -> "
                  << CountProcesses(kServer) << std::endl;

        ASSERT_TRUE(Answers(quarvel));
        EXPECT_EQ(VisibleDialogs(quarvel.processId()), 0);
        const int servers = CountProcesses(kServer);
        ASSERT_LE(servers, 1);
        EXPECT_EQ(quarvel.Text(Ctl::透明标签2), servers == 1 ? kRunning : kNotRunning);
        if (servers == 1) {
            // Whichever click ran last, a server that runs now was started after the
            // last change of the box, so it has the last size.
            std::string maxBytes;
            EXPECT_TRUE(WaitUntil([&] { return !(maxBytes = Stat(Ask("stats settings"), "maxbytes")).empty(); }, 5s))
                << "nothing answers on 127.0.0.1:11211";
            EXPECT_EQ(maxBytes, std::to_string(std::stoll(size) * 1024 * 1024));
            const std::string pid = Stat(Ask("stats"), "pid");
            if (!lastPid.empty() && pid != lastPid) {
                EXPECT_TRUE(WaitUntil([&] { return HostProcessGone(lastPid); }, 2s))
                    << "the server before, pid " << lastPid << ", still runs";
            }
            lastPid = pid;
        } else {
            EXPECT_TRUE(WaitUntil([] { return !PortOpen(); }, 3s)) << "a server answers though none should run";
            if (!lastPid.empty()) {
                EXPECT_TRUE(WaitUntil([&] { return HostProcessGone(lastPid); }, 2s))
                    << "the last server, pid " << lastPid << ", still runs";
            }
            lastPid.clear();
        }
    }
    std::cout << "[ soak     ] " << cycle << " cycles (" << starts << " starts, " << stops << " stops, " << pastes
              << " pastes), " << checks << " checks in " << Since(begun) << " s" << std::endl;
    EXPECT_EQ(cycle, kCycles);
}

// ---- Cache-size texts no one should enter -----------------------------------------

// Typing ten thousand keys would take seconds to show no more than a few hundred.
constexpr size_t kTypedAtMost = 40;

struct BadText {
    const char* name;
    std::wstring text;
    std::wstring typed;  // what the box keeps when the text, up to kTypedAtMost, is typed
};

std::vector<BadText> BadTexts() {
    // Ten thousand characters of digits, blanks, quotes and backslashes, ending in
    // a backslash: quoted for the command line it grows by a fifth and still fits
    // the 32,767 characters a command line may have.
    std::wstring longText, longTyped;
    for (int i = 0; i < 1000; ++i) {
        longText += L"12 \"a\\\" b\\";
        if (longText.size() <= kTypedAtMost) longTyped += L"12";
    }
    return {
        {"empty", L"", L""},
        {"letters", L"abc", L""},
        {"letters among digits", L"6a4", L"64"},
        {"minus one", L"-1", L"-1"},
        {"zero", L"0", L"0"},
        {"eleven nines", L"99999999999", L"99999999999"},
        {"blanks", L"   ", L""},
        {"blanks around digits", L" 64 ", L"64"},
        {"ideographic spaces around digits", L"\u300064\u3000", L"64"},
        {"double quotes around digits", L"\"64\"", L"64"},
        {"single quotes around digits", L"'64'", L"64"},
        {"trailing backslashes", L"64\\\\", L"64"},
        {"backslash-quote runs", L"\\\"\\\\\"x\\\\\\\"", L""},
        {"a character outside the BMP", L"\U0001F600", L""},
        {"digits around a surrogate pair", L"6\U0001F6004", L"64"},
        {"10,000 characters", longText, longTyped},
    };
}

// As a settings file keeps a value whose outer blanks or quotes the profile
// reading would drop: inside one more pair of double quotes.
std::wstring IniValue(const std::wstring& text) {
    auto bare = [](wchar_t c) { return c <= L' ' || c == L'"' || c == L'\''; };
    if (!text.empty() && (bare(text.front()) || bare(text.back()))) return L"\"" + text + L"\"";
    return text;
}

std::vector<std::wstring> ServerArguments(const Quarvel& q, size_t start) {
    std::vector<ServerStart> starts;
    WaitUntil([&] { return (starts = ReadServerStarts(q.folder())).size() > start; }, 10s);
    if (starts.size() <= start) return {};
    return ParseCommandLine(starts[start].commandLine);
}

// Typed, the box keeps only '-' and digits; pasted, it keeps anything; left, the
// settings file reads back exactly what the box held; and the server gets the
// text as one argument. Quarvel takes it all without a crash or a dialog.
TEST(BadCacheSize, TypedPastedAndSavedTextsComeBackWholeAndReachTheServerAsOneArgument) {
    Quarvel q;
    q.AddRecordingServer();
    ASSERT_TRUE(q.Start());
    TouchAndWaitForTheWindowToSettle(q);
    const std::wstring server = q.folder() + L"\\memcached.exe";
    for (const BadText& c : BadTexts()) {
        SCOPED_TRACE(c.name);
        FocusCacheBox(q);
        PressKey(VK_HOME);
        PressKey(VK_END, true);
        PressKey(VK_DELETE);
        // A digit typed last shows when every key before it has been taken.
        TypeText(c.text.substr(0, kTypedAtMost) + L"7");
        EXPECT_TRUE(q.WaitForText(Ctl::编辑框1, c.typed + L"7", 20s))
            << "typed, the box holds " << testing::PrintToString(q.Text(Ctl::编辑框1).substr(0, 80));

        PasteCacheSize(q, c.text);
        PressKey(VK_TAB);
        EXPECT_TRUE(WaitUntil([&] { return ProfileText(IniPath(q), kCacheKey) == c.text; }, 10s))
            << "the file reads back " << testing::PrintToString(ProfileText(IniPath(q), kCacheKey).substr(0, 80));
        ASSERT_TRUE(Answers(q));
        EXPECT_EQ(VisibleDialogs(q.processId()), 0);
    }

    // The longest text, still in the box, through the start button; every text
    // reaches the server the same way from the settings file below.
    const std::wstring longest = BadTexts().back().text;
    ASSERT_EQ(q.Text(Ctl::编辑框1), longest);
    q.Click(Ctl::按钮1);
    std::vector<std::wstring> args = ServerArguments(q, 0);
    ASSERT_EQ(args.size(), 3u);
    EXPECT_EQ(args[0], server);
    EXPECT_EQ(args[1], L"-m");
    EXPECT_TRUE(args[2] == longest) << "the server got " << testing::PrintToString(args[2].substr(0, 80));
    ASSERT_TRUE(q.WaitForText(Ctl::透明标签2, kRunning, 5s));
    EXPECT_EQ(CountProcesses(kServer), 1);
    EXPECT_EQ(VisibleDialogs(q.processId()), 0);
}

// Stored in the settings file before Quarvel starts, each text shows in the box
// and, with the start-with-Windows flag on, reaches the server at once.
TEST(BadCacheSize, StoredTextsShowInTheBoxAndReachTheServerWhole) {
    Quarvel q;
    q.AddRecordingServer();
    const std::wstring record = q.folder() + L"\\memcached-record.bin";
    for (const BadText& c : BadTexts()) {
        SCOPED_TRACE(c.name);
        KillAll(kServer);
        ::DeleteFileW(record.c_str());
        q.AddFile(L"Quarvel.ini", Utf16File(L"[Quarvel]\r\n" + std::wstring(kCacheKey) + L"=" + IniValue(c.text) +
                                            L"\r\n开机自动运行=1\r\n"));
        ASSERT_EQ(ProfileText(IniPath(q), kCacheKey), c.text) << "the file does not hold what this case is about";

        ASSERT_TRUE(q.Start());
        std::vector<std::wstring> args = ServerArguments(q, 0);
        ASSERT_EQ(args.size(), 3u);
        EXPECT_EQ(args[1], L"-m");
        EXPECT_TRUE(args[2] == c.text) << "the server got " << testing::PrintToString(args[2].substr(0, 80));
        EXPECT_TRUE(q.WaitForText(Ctl::编辑框1, c.text, 5s))
            << "the box shows " << testing::PrintToString(q.Text(Ctl::编辑框1).substr(0, 80));
        ASSERT_TRUE(Answers(q));
        EXPECT_EQ(VisibleDialogs(q.processId()), 0);
        ::PostMessageW(q.window(), WM_CLOSE, 0, 0);
        EXPECT_EQ(q.WaitForExit(5s), 0u);
    }
}

// ---- A broken world ---------------------------------------------------------------

// A memcached.exe that is no program, a folder in its place, and a server that is
// killed behind Quarvel's back while Quarvel waits for it to come up: the line
// ends true, nothing but Quarvel's window shows, and nothing runs that should not.
TEST(ServerFaults, ABrokenOrVanishingServerLeavesATrueLineAndNoDialog) {
    enum class Fault { NotAProgram, AFolder, KilledWhileStarting };
    struct Case {
        const char* what;
        Fault fault;
    };
    for (Case c : {Case{"not a program", Fault::NotAProgram}, Case{"a folder", Fault::AFolder},
                   Case{"killed while starting", Fault::KilledWhileStarting}}) {
        SCOPED_TRACE(c.what);
        Quarvel q;
        if (c.fault == Fault::NotAProgram) q.AddFile(kServer, "MZ? no, just text that calls itself memcached.exe\r\n");
        if (c.fault == Fault::AFolder) {
            ASSERT_TRUE(::CreateDirectoryW((q.folder() + L"\\" + kServer).c_str(), nullptr));
        }
        if (c.fault == Fault::KilledWhileStarting) q.AddRecordingServer();
        ASSERT_TRUE(q.Start());

        q.Click(Ctl::按钮1);
        ASSERT_TRUE(q.WaitForText(Ctl::透明标签2, kStarting, 5s));
        if (c.fault == Fault::KilledWhileStarting) {
            // Up and recorded, then gone within Quarvel's second of waiting.
            ASSERT_TRUE(WaitUntil([&] { return ReadServerStarts(q.folder()).size() == 1; }, 900ms));
            EXPECT_EQ(KillAll(kServer), 1);
        }
        ASSERT_TRUE(WaitUntil([&] { return q.Text(Ctl::透明标签2) != kStarting; }, 5s));
        ExpectTrueStatus(q);
        EXPECT_EQ(CountProcesses(kServer), 0);
        EXPECT_TRUE(Answers(q));
        EXPECT_EQ(VisibleDialogs(q.processId()), 0);

        if (c.fault == Fault::KilledWhileStarting) {
            // The next start finds nothing to end and starts afresh.
            q.Click(Ctl::按钮1);
            ASSERT_TRUE(q.WaitForText(Ctl::透明标签2, kStarting, 5s));
            ASSERT_TRUE(WaitUntil([&] { return q.Text(Ctl::透明标签2) != kStarting; }, 5s));
            ExpectTrueStatus(q);
            EXPECT_EQ(CountProcesses(kServer), 1);
            EXPECT_EQ(ReadServerStarts(q.folder()).size(), 2u);
        }
    }
}

// Megabytes of junk with Quarvel's section somewhere inside: Quarvel starts within
// seconds, shows the stored size, answers throughout and saves into it.
TEST(SettingsFaults, AHugeFileOfJunkIsReadAndWrittenWithoutHanging) {
    constexpr size_t kBytes = 5 * 1024 * 1024;
    const std::wstring section = L"\r\n[Quarvel]\r\n" + std::wstring(kCacheKey) + L"=123\r\n";
    std::mt19937 random(7);
    struct Case {
        const char* what;
        std::string bytes;
    };
    // Lines of sections, keys and prose around the section, in UTF-16.
    std::wstring lines;
    for (int i = 0; lines.size() * 2 < kBytes / 2; ++i)
        lines += L"[junk" + std::to_wstring(i) + L"]\r\nkey" + std::to_wstring(random() % 1000) +
                 L"=value with = signs; and [brackets]\r\nno equals sign on this line at all\r\n";
    std::wstring text = lines + section + lines;
    // Random code units after a UTF-16 mark, the section at the very end.
    std::wstring noise(kBytes / 2, L'\0');
    for (wchar_t& unit : noise) unit = static_cast<wchar_t>(random() & 0xFFFF);
    const Case cases[] = {
        {"lines of junk", Utf16File(text)},
        {"random units", Utf16File(noise + section)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Quarvel q;
        q.AddFile(L"Quarvel.ini", c.bytes);
        ASSERT_EQ(ProfileText(IniPath(q), kCacheKey), L"123") << "the file does not hold what this case is about";

        const auto started = Clock::now();
        ASSERT_TRUE(q.Start());
        EXPECT_TRUE(Answers(q));
        EXPECT_TRUE(q.WaitForText(Ctl::编辑框1, L"123", 10s))
            << "shows " << testing::PrintToString(q.Text(Ctl::编辑框1).substr(0, 80));
        EXPECT_LT(Since(started), 5.0) << "to show the stored size";

        FocusCacheBox(q);
        PressKey(VK_END);
        TypeText(L"4");
        ASSERT_TRUE(q.WaitForText(Ctl::编辑框1, L"1234", 3s));
        const auto left = Clock::now();
        PressKey(VK_TAB);
        EXPECT_TRUE(WaitUntil([&] { return ProfileText(IniPath(q), kCacheKey) == L"1234"; }, 10s));
        EXPECT_LT(Since(left), 5.0) << "to save";
        EXPECT_TRUE(Answers(q));
        EXPECT_EQ(VisibleDialogs(q.processId()), 0);
    }
}

// Settings that cannot be written. Wine running as root writes through a folder's
// read-only attribute, so the file is made unwritable in ways that hold there too:
// a folder stands where the file belongs, or another program holds the file open
// and shares nothing. Quarvel shows the default, takes a new size, says nothing
// when it cannot keep it and ends cleanly; the obstacle is left as it was.
TEST(SettingsFaults, ASettingsFileThatCannotBeWrittenOrReadIsPassedOverSilently) {
    const std::string stored = Utf16File(L"[Quarvel]\r\n" + std::wstring(kCacheKey) + L"=77\r\n");
    for (bool folder : {true, false}) {
        SCOPED_TRACE(folder ? "a folder named Quarvel.ini" : "Quarvel.ini held open");
        Quarvel q;
        q.AddRecordingServer();
        UniqueFileHandle holder;
        if (folder) {
            ASSERT_TRUE(::CreateDirectoryW(IniPath(q).c_str(), nullptr));
        } else {
            q.AddFile(L"Quarvel.ini", stored);
            holder.reset(::CreateFileW(IniPath(q).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(holder);
        }
        ASSERT_TRUE(q.Start());
        EXPECT_TRUE(q.WaitForText(Ctl::编辑框1, L"256", 5s))
            << "shows " << testing::PrintToString(q.Text(Ctl::编辑框1));

        FocusCacheBox(q);
        PressKey(VK_END);
        TypeText(L"5");
        ASSERT_TRUE(q.WaitForText(Ctl::编辑框1, L"2565", 3s));
        PressKey(VK_TAB);  // leaving the box saves
        ASSERT_TRUE(WaitUntil([&] { return q.Focus() != q.Control(Ctl::编辑框1); }, 3s));
        EXPECT_TRUE(Answers(q)) << "once it answers, the save is over";
        EXPECT_EQ(VisibleDialogs(q.processId()), 0);
        EXPECT_TRUE(ReadServerStarts(q.folder()).empty()) << "a server was started unasked";
        ::PostMessageW(q.window(), WM_CLOSE, 0, 0);
        EXPECT_EQ(q.WaitForExit(5s), 0u);

        holder.reset();
        if (folder) {
            EXPECT_EQ(::GetFileAttributesW(IniPath(q).c_str()) & FILE_ATTRIBUTE_DIRECTORY,
                      static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
        } else {
            EXPECT_EQ(ReadFileBytes(IniPath(q)), stored);
        }
    }
}

// Closing the window during the pauses not covered elsewhere: the start-up
// worker's second after its own start and its 30-second grace, and the second
// after a stop. Each ends at once with exit code 0 and leaves the server as the
// user's last word had it.
TEST(Pause, ClosingDuringTheWorkersPausesOrAfterAStopEndsAtOnceWithZero) {
    enum class During { WorkersStart, Grace, Stop };
    struct Case {
        const char* what;
        During during;
        int serversLeft;
    };
    const std::string autoStart = Utf16File(L"[Quarvel]\r\n" + std::wstring(kCacheKey) + L"=64\r\n开机自动运行=1\r\n");
    for (Case c : {Case{"the worker's start", During::WorkersStart, 1}, Case{"the grace period", During::Grace, 1},
                   Case{"a stop", During::Stop, 0}}) {
        SCOPED_TRACE(c.what);
        Quarvel q;
        q.AddRecordingServer();
        if (c.during != During::Stop) q.AddFile(L"Quarvel.ini", autoStart);
        const auto started = Clock::now();
        ASSERT_TRUE(q.Start());
        switch (c.during) {
        case During::WorkersStart:
            ASSERT_TRUE(q.WaitForText(Ctl::透明标签2, kStarting, 5s));
            break;
        case During::Grace:
            ASSERT_TRUE(q.WaitForText(Ctl::透明标签2, kRunning, 5s));
            ::Sleep(500);
            break;
        case During::Stop:
            q.Click(Ctl::按钮1);
            ASSERT_TRUE(q.WaitForText(Ctl::透明标签2, kRunning, 6s));
            q.Click(Ctl::按钮2);
            ASSERT_TRUE(WaitUntil([] { return CountProcesses(kServer) == 0; }, 5s));
            break;
        }
        EXPECT_EQ(VisibleDialogs(q.processId()), 0);
        const auto closed = Clock::now();
        ::PostMessageW(q.window(), WM_CLOSE, 0, 0);
        EXPECT_EQ(q.WaitForExit(5s), 0u);
        EXPECT_LT(Since(closed), 0.8) << "ended inside the pause";
        EXPECT_LT(Since(started), 10.0);
        EXPECT_EQ(CountProcesses(kServer), c.serversLeft);
    }
}

}  // namespace
