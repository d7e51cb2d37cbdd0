// The settings file beside the program and the start-with-Windows Run value.
#pragma once

#include <string>

std::wstring ConfigFilePath();

// Run once on the start-up worker: fills the cache-size box and, with the
// start-with-Windows flag on, starts the server and ends Quarvel after a grace period.
void LoadSettingsAndAutoStart();
void SaveSettings();
void OnCacheSizeLostFocus();
void OnAutoRunBoxClicked();
