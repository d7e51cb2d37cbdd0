// The settings file beside the program and the start-with-Windows Run value.
#pragma once

#include <string>

std::wstring ConfigFilePath();

// One key of a settings file through the profile functions, into a buffer of
// 10240 characters: a longer text comes back cut to 10239. File, section and key
// name lose their leading control characters and blanks; when one of them is then
// empty, nothing is read and the answer is empty whatever the default.
std::wstring ReadConfigText(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                            const std::wstring& defaultText = {});

// Fills the cache-size box and the start-with-Windows box from the settings file;
// answers whether the flag asks for the unattended start.
bool LoadSettings();
// The unattended start, run on the start-up worker: starts the server and ends
// Quarvel after a grace period unless the user has taken the window over.
void AutoStart();
// Both of the above, in turn.
void LoadSettingsAndAutoStart();
void SaveSettings();
void OnCacheSizeLostFocus();
void OnAutoRunBoxClicked();
