// Measures what Quarvel costs its user against a bare Win32 program built in the
// same tree, side by side in one run, and prints a table of ratios.
//
//   start-up        process start to window visible, painted and answering
//   file size       Quarvel.exe on disk
//   peak memory     peak working set once the window is up
//   responsiveness  longest round trip of a message sent during each of its pauses
//   restart         start-button click to the new memcached answering, less the 2 s
//                   pause that comes before the start, against the same server
//                   started directly; and click to the status line showing it
//                   runs, less all 3 s of pauses
//   idle cost       CPU time over 10 idle seconds after the countdown is cancelled
//
// Start-up and memory are also measured for the baseline built with Quarvel's
// application manifest (Common Controls 6, for the visual styles Quarvel keeps), which
// shows what the manifest alone costs and what is left to Quarvel's own work.
//
// --no-server leaves out the pauses, restarts and idle cost: they need memcached's
// port 11211, which another run on the machine may be using.
#define PSAPI_VERSION 2
#include "driver/driver.h"
#include "driver/memcached_client.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace driver;

namespace {

constexpr int kRuns = 11;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct Stats {
    double median = 0, low = 0, high = 0;
};

Stats Summarise(std::vector<double> values) {
    Stats s;
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    s.median = values[values.size() / 2];
    s.low = values.front();
    s.high = values.back();
    return s;
}

struct Launch {
    double startup = -1;  // seconds
    double peakMiB = -1;
};

// Starts `exe` from its folder, times it to a visible window that answers and is
// painted, reads its peak working set and ends it.
Launch LaunchOnce(const std::wstring& exe) {
    Launch result;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    std::wstring line = L"\"" + exe + L"\"";
    std::wstring folder = exe.substr(0, exe.rfind(L'\\'));
    auto begin = Clock::now();
    if (!::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                          &info))
        return result;
    UniqueHandle process(info.hProcess), thread(info.hThread);
    HWND window = nullptr;
    Clock::duration answered{};
    bool up = WaitUntil(
        [&] {
            window = nullptr;
            for (HWND candidate : VisibleWindowsOf(info.dwProcessId)) {
                if (::GetWindowTextLengthW(candidate) > 0) {
                    window = candidate;
                    break;
                }
            }
            DWORD_PTR ignored;
            if (!window || !::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &ignored)) return false;
            // The time of the answer: the look at the painting is not the program's.
            answered = Clock::now() - begin;
            return Painted(window);
        },
        20s);
    if (up) result.startup = Seconds(answered);
    ::Sleep(500);  // let it settle before reading its memory
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (::GetProcessMemoryInfo(process.get(), &counters, sizeof(counters)))
        result.peakMiB = counters.PeakWorkingSetSize / (1024.0 * 1024.0);
    ::TerminateProcess(process.get(), 0);
    ::WaitForSingleObject(process.get(), 5000);
    return result;
}

// The longest round trip of WM_NULL to the window while `during` holds.
double LongestRoundTrip(HWND window, const std::function<bool()>& during, std::chrono::milliseconds limit) {
    double longest = 0;
    auto end = Clock::now() + limit;
    while (during() && Clock::now() < end) {
        auto sent = Clock::now();
        DWORD_PTR ignored;
        ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
        longest = std::max(longest, Seconds(Clock::now() - sent));
        ::Sleep(5);
    }
    return longest;
}

// The pid of the memcached answering on 127.0.0.1:11211, or 0 when none does.
long ServerPid() { return std::strtol(Stat(Ask("stats"), "pid").c_str(), nullptr, 10); }

// The same memcached.exe started directly, as Quarvel starts it, timed to its first
// answer: what any program would wait for that server, and so the baseline of a
// restart. Under Wine it includes the bridge starting the host's bash and memcached.
std::vector<double> DirectStarts(const std::wstring& server, int runs) {
    std::vector<double> times;
    std::wstring folder = server.substr(0, server.rfind(L'\\'));
    for (int i = 0; i < runs; ++i) {
        std::wstring line = L"\"" + server + L"\" -m 64";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        auto begin = Clock::now();
        if (!::CreateProcessW(server.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                              &startup, &info))
            break;
        UniqueHandle process(info.hProcess), thread(info.hThread);
        if (WaitUntil([] { return ServerPid() != 0; }, 15s)) times.push_back(Seconds(Clock::now() - begin));
        ::TerminateProcess(process.get(), 0);
        ::WaitForSingleObject(process.get(), 5000);
        WaitUntil([] { return !PortOpen(); }, 3s);
        ::Sleep(300);
    }
    return times;
}

double CpuSeconds(HANDLE process) {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(process, &created, &exited, &kernel, &user);
    auto value = [](FILETIME t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return (value(kernel) + value(user)) / 1e7;
}

void Row(const char* what, const std::string& quarvel, const std::string& baseline, const std::string& ratio,
         const std::string& goal, const char* verdict) {
    std::printf("| %-36s | %-22s | %-22s | %-7s | %-18s | %-4s |\n", what, quarvel.c_str(), baseline.c_str(),
                ratio.c_str(), goal.c_str(), verdict);
}

void Row(const char* what, const std::string& quarvel, const std::string& baseline, const std::string& ratio,
         const std::string& goal, bool met) {
    Row(what, quarvel, baseline, ratio, goal, met ? "met" : "MISS");
}

std::string Format(const char* format, double a, double b = 0, double c = 0) {
    char text[128];
    std::snprintf(text, sizeof(text), format, a, b, c);
    return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bool withServer = true;
    for (int i = 1; i < argc; ++i) {
        if (std::wstring(argv[i]) == L"--no-server") withServer = false;
    }
    WinsockSession winsock;
    const std::wstring bin = BinDirectory();
    if (withServer) KillAll(L"memcached.exe");

    // Start-up and memory, the programs alternating so that all see the same noise,
    // each started once beforehand so that none is timed from cold files.
    std::wstring baselineFolder = MakeTempFolder(L"-baseline");
    std::wstring baselineExe = baselineFolder + L"\\baseline_window.exe";
    std::wstring themedExe = baselineFolder + L"\\baseline_themed.exe";
    ::CopyFileW((bin + L"\\baseline_window.exe").c_str(), baselineExe.c_str(), FALSE);
    ::CopyFileW((bin + L"\\baseline_themed.exe").c_str(), themedExe.c_str(), FALSE);
    Quarvel sizeRun;
    const std::wstring programs[] = {sizeRun.exePath(), baselineExe, themedExe};
    std::vector<double> starts[3], peaks[3];
    for (const std::wstring& exe : programs) LaunchOnce(exe);
    for (int i = 0; i < kRuns; ++i) {
        for (int p = 0; p < 3; ++p) {
            Launch launch = LaunchOnce(programs[p]);
            if (launch.startup > 0) starts[p].push_back(launch.startup);
            if (launch.peakMiB > 0) peaks[p].push_back(launch.peakMiB);
        }
    }
    Stats sq = Summarise(starts[0]), sb = Summarise(starts[1]), st = Summarise(starts[2]);
    Stats mq = Summarise(peaks[0]), mb = Summarise(peaks[1]), mt = Summarise(peaks[2]);

    WIN32_FILE_ATTRIBUTE_DATA file{};
    ::GetFileAttributesExW(sizeRun.exePath().c_str(), GetFileExInfoStandard, &file);
    double kib = file.nFileSizeLow / 1024.0;
    ::GetFileAttributesExW(baselineExe.c_str(), GetFileExInfoStandard, &file);
    double baselineKib = file.nFileSizeLow / 1024.0;

    // Responsiveness during each kind of pause, with the recording server.
    double cancelPause = 0, settlePause = 0;
    if (withServer) {
        Quarvel q;
        q.AddRecordingServer();
        if (q.Start()) {
            q.Click(Ctl::透明标签4);
            cancelPause = LongestRoundTrip(q.window(), [&] { return true; }, 2200ms);
            q.Click(Ctl::按钮1);  // its own 2-second cancel pause, then the 1-second settle pause
            WaitUntil([&] { return q.Text(Ctl::透明标签2) == L"memcached.exe - 启动中"; }, 5s);
            settlePause = LongestRoundTrip(
                q.window(), [&] { return q.Text(Ctl::透明标签2) == L"memcached.exe - 启动中"; }, 3s);
        }
    }
    KillAll(L"memcached.exe");

    // Restart overhead with the bridge to the real memcached.
    std::vector<double> restarts, settled, direct;
    double idleCpu = -1;
    if (withServer) {
        Quarvel q;
        q.AddBridgeServer();
        direct = DirectStarts(q.folder() + L"\\memcached.exe", 5);
        if (q.Start()) {
            q.Click(Ctl::按钮1);
            WaitUntil([&] { return ServerPid() != 0; }, 15s);
            ::Sleep(1500);
            for (int i = 0; i < 5; ++i) {
                long before = ServerPid();
                // Timed from the press itself, the pointer already on the button.
                q.BringToFront();
                RECT button = q.ControlRect(Ctl::按钮1);
                MoveMouse({(button.left + button.right) / 2, (button.top + button.bottom) / 2});
                auto clicked = Clock::now();
                PressLeftButton();
                long after = 0;
                WaitUntil([&] { return (after = ServerPid()) != 0 && after != before; }, 15s);
                if (after && after != before) restarts.push_back(Seconds(Clock::now() - clicked) - 2.0);
                WaitUntil([&] { return q.Text(Ctl::透明标签2) == L"memcached.exe - 启动中"; }, 5s);
                if (WaitUntil([&] { return q.Text(Ctl::透明标签2) == L"memcached.exe - 已运行"; }, 5s))
                    settled.push_back(Seconds(Clock::now() - clicked) - 3.0);
                ::Sleep(300);
            }
            // Idle: the countdown was cancelled by the clicks; nothing should run now.
            ::Sleep(2000);
            double cpuBefore = CpuSeconds(q.process());
            ::Sleep(10000);
            idleCpu = CpuSeconds(q.process()) - cpuBefore;
        }
    }
    KillAll(L"memcached.exe");
    RemoveFolder(baselineFolder);
    Stats rs = Summarise(restarts), ss = Summarise(settled), ds = Summarise(direct);

    std::printf("| %-36s | %-22s | %-22s | %-7s | %-18s | %-4s |\n", "measure (median [min-max])", "Quarvel",
                "baseline", "ratio", "goal", "");
    std::printf("|%s|%s|%s|%s|%s|%s|\n", std::string(38, '-').c_str(), std::string(24, '-').c_str(),
                std::string(24, '-').c_str(), std::string(9, '-').c_str(), std::string(20, '-').c_str(),
                std::string(6, '-').c_str());
    auto range = [](const Stats& s, double scale, const char* format) {
        return Format(format, s.median * scale, s.low * scale, s.high * scale);
    };
    const char* ms = "%.0f [%.0f-%.0f]";
    const char* mib = "%.1f [%.1f-%.1f]";
    Row("start-up to painted window (ms)", range(sq, 1e3, ms), range(sb, 1e3, ms),
        Format("%.2fx", sq.median / sb.median), "<= 1.10x", sq.median / sb.median <= 1.10);
    Row("file size (KiB)", Format("%.0f", kib), Format("%.0f", baselineKib), Format("%.2fx", kib / baselineKib),
        "<= 256 KiB", kib <= 256);
    Row("peak working set (MiB)", range(mq, 1, mib), range(mb, 1, mib), Format("%.2fx", mq.median / mb.median),
        "<= 1.10x", mq.median / mb.median <= 1.10);
    // The baseline with the manifest in the middle column; the goal column holds what
    // the manifest alone costs that baseline.
    Row("start-up, themed baseline (ms)", range(sq, 1e3, ms), range(st, 1e3, ms),
        Format("%.2fx", sq.median / st.median), Format("manifest %.2fx", st.median / sb.median), "-");
    Row("peak memory, themed baseline (MiB)", range(mq, 1, mib), range(mt, 1, mib),
        Format("%.2fx", mq.median / mt.median), Format("manifest %.2fx", mt.median / mb.median), "-");
    if (!withServer) return 0;
    Row("longest reply, 2 s cancel pause (ms)", Format("%.1f", cancelPause * 1e3), "-", "-", "< 20 ms",
        cancelPause < 0.020);
    Row("longest reply, 1 s settle pause (ms)", Format("%.1f", settlePause * 1e3), "-", "-", "< 20 ms",
        settlePause < 0.020);
    // The baseline column: the server started directly; the difference is what
    // Quarvel adds to it (the click, ending the old server, the start itself).
    Row("restart to new server, less 2 s (ms)", range(rs, 1e3, ms), range(ds, 1e3, ms),
        Format("%+.0f ms", (rs.median - ds.median) * 1e3), "< 150 ms", !restarts.empty() && rs.median < 0.150);
    Row("  of which Quarvel's own (ms)", Format("%.0f", (rs.median - ds.median) * 1e3), "-", "-", "< 150 ms",
        !restarts.empty() && !direct.empty() && rs.median - ds.median < 0.150);
    Row("restart to blue line, less 3 s (ms)", Format("%.0f [%.0f-%.0f]", ss.median * 1e3, ss.low * 1e3, ss.high * 1e3),
        "-", "-", "< 150 ms", !settled.empty() && ss.median < 0.150);
    Row("CPU over 10 idle seconds (ms)", Format("%.1f", idleCpu * 1e3), "-", "-", "< 10 ms",
        idleCpu >= 0 && idleCpu < 0.010);
    return 0;
}
