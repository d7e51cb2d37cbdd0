// Builds Quarvel's window in this process, pauses its thread for 3 seconds and has
// a second thread end the program half a second in, as the start-up worker does.
// It writes "paused" before the pause and "resumed" after it; the test expects
// exit code 3 within the pause and no "resumed".
#include "probes/probe.h"
#include "util/delay.h"

namespace {

DWORD WINAPI EndSoon(void*) {
    ::Sleep(500);
    EndProgram(3);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    if (!ShowQuarvelWindow(instance)) return 1;
    StartThread(EndSoon);
    Mark("paused");
    DelayWithEvents(3000);
    Mark("resumed");
    return 9;
}
