#include "server/server.h"

#include "app/countdown.h"
#include "app/program.h"
#include "app/window.h"
#include "server/process.h"
#include "util/command_line.h"
#include "util/delay.h"

namespace {

constexpr COLORREF kNotRunningColour = 0x0000FF;  // red
constexpr COLORREF kRunningColour = 0xFF0000;     // blue
constexpr COLORREF kStartingColour = 0x008000;    // green
// How long a restart waits for the old server to let go of its port.
constexpr unsigned long kOldServerExitWaitMs = 5000;

void ShowStatus(COLORREF colour, const wchar_t* text) {
    SetLabelTextColour(Ctl::透明标签2, colour);
    SetLabelText(Ctl::透明标签2, text);
}

}  // namespace

std::wstring ServerPath(const std::wstring& runDirectory) { return runDirectory + L"\\" + kServerFileName; }

std::wstring ServerCommandLine(const std::wstring& runDirectory, const std::wstring& cacheSize) {
    return BuildCommandLine({ServerPath(runDirectory), L"-m", cacheSize});
}

void RefreshServerStatus() {
    if (IsProcessRunning(kServerFileName))
        ShowStatus(kRunningColour, L"memcached.exe - 已运行");
    else
        ShowStatus(kNotRunningColour, L"memcached.exe - 未运行");
}

void StartOrRestartServer() {
    // Read now: a close of the window while the old server goes takes the box with it,
    // and the server is still to be started with the size the user asked for.
    const std::wstring& runDirectory = RunDirectory();
    const std::wstring commandLine = ServerCommandLine(runDirectory, GetEditText(Ctl::编辑框1));
    if (IsProcessRunning(kServerFileName)) {
        UniqueHandle old;
        // A new server started before the old one is gone finds its port taken. A
        // close meanwhile waits until the new one runs: closing never stops the server.
        if (KillProcessByName(kServerFileName, &old)) WaitWithEvents(old.get(), kOldServerExitWaitMs);
    }
    RunProgram(ServerPath(runDirectory), commandLine);
    ShowStatus(kStartingColour, L"memcached.exe - 启动中");
    DelayWithEvents(1, Seconds);
    RefreshServerStatus();
}

void OnStartButtonClicked() {
    CancelAutoClose();
    StartOrRestartServer();
}

void OnStopButtonClicked() {
    CancelAutoClose();
    if (!IsProcessRunning(kServerFileName)) return;
    KillProcessByName(kServerFileName);
    DelayWithEvents(1, Seconds);
    RefreshServerStatus();
}
