// The routines bound to the window's events, and the start-up routines. Handlers
// take no arguments and return nothing.
#pragma once

#include <windows.h>

// Start-up.
void OnWindowCreated();
DWORD WINAPI StartupWorker(void*);
// Builds and shows the window and runs the message loop; the process's exit code.
int RunQuarvel(HINSTANCE instance);
