// Builds Quarvel's window in this process, starts the server from its folder, and
// restarts it with a close of the window already queued, as when the user closes
// Quarvel the moment after clicking restart. The close is seen while the restart
// waits for the old server to go. It writes "first" after the first start and
// "resumed" if the restart returns; the test expects exit code 0, no "resumed", and
// a new server running, started with the size in the box.
#include "probes/probe.h"
#include "server/server.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    HWND window = ShowQuarvelWindow(instance);
    if (!window) return 1;
    StartOrRestartServer();
    Mark("first");
    SetEditText(Ctl::编辑框1, L"512");
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    StartOrRestartServer();
    Mark("resumed");
    return 9;
}
