// The 30-second auto-close countdown and the routine that cancels it for the run.
#pragma once

// 1 while the countdown may still end the program, 0 once the user touched the
// window. Written on the window's thread, read once by the start-up worker.
extern volatile int autoCloseArmed;
// Seconds until the countdown ends the program; used on the window's thread only.
extern int secondsLeft;

void ArmAutoClose();
void OnTimerTick();
void CancelAutoClose();
void OnCacheSizeGotFocus();
