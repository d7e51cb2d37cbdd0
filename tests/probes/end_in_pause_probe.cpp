// Builds Quarvel's window in this process, pauses its thread for 3 seconds and has
// a second thread end the program half a second in, as the start-up worker does.
// It writes "paused" before the pause and "resumed" after it; the test expects
// exit code 3 within the pause and no "resumed".
#include "app/program.h"
#include "app/window.h"
#include "util/delay.h"

#include <windows.h>

#include <fstream>

namespace {

void Mark(const char* text) {
    std::ofstream("probe.txt", std::ios::app | std::ios::binary) << text << "\n";
}

DWORD WINAPI EndSoon(void*) {
    ::Sleep(500);
    EndProgram(3);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    InitialiseProgram(instance);
    HWND window = CreateMainWindow(instance);
    if (!window) return 1;
    ::ShowWindow(window, SW_SHOWNORMAL);
    StartThread(EndSoon);
    Mark("paused");
    DelayWithEvents(3000);
    Mark("resumed");
    return 9;
}
