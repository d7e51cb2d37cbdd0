#include "app/handlers.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return RunQuarvel(instance); }
