// For probe programs built from Quarvel's own routines: the window as Quarvel
// shows it, and marks that a test reads back from probe.txt in the current folder.
#pragma once

#include "app/program.h"
#include "app/window.h"

#include <windows.h>

#include <fstream>

inline void Mark(const char* text) {
    std::ofstream("probe.txt", std::ios::app | std::ios::binary) << text << "\n";
}

// Null when the window could not be made.
inline HWND ShowQuarvelWindow(HINSTANCE instance) {
    InitialiseProgram(instance);
    HWND window = CreateMainWindow(instance);
    if (window) ::ShowWindow(window, SW_SHOWNORMAL);
    return window;
}
