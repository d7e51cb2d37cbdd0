#include "app/countdown.h"
#include "app/handlers.h"
#include "app/program.h"
#include "app/window.h"
#include "server/server.h"
#include "settings/settings.h"

void OnWindowCreated() {
    ArmAutoClose();
    // Parked on the invisible box, the focus cannot raise 编辑框1's got-focus event,
    // which would cancel the countdown the moment the window appears.
    SetFocusTo(Ctl::编辑框__);
    RefreshServerStatus();
    // Read here, the settings are in the window from its first paint. Only the
    // unattended start, which waits half a minute, needs a thread of its own: a
    // thread costs every start time and, under Wine, over a megabyte of memory.
    if (LoadSettings()) StartThread(StartupWorker);
}

DWORD WINAPI StartupWorker(void*) {
    AutoStart();
    return 0;
}

int RunQuarvel(HINSTANCE instance) {
    InitialiseProgram(instance);
    HWND window = CreateMainWindow(instance);
    if (!window) return 1;
    ::ShowWindow(window, SW_SHOWNORMAL);
    ::UpdateWindow(window);
    // Ended here rather than by returning: the runtime's exit would destroy globals
    // that a start-up worker may still be using.
    EndProgram(static_cast<UINT>(RunMessageLoop()));
}
