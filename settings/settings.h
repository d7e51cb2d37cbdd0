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

// Run once on the start-up worker: fills the cache-size box and, with the
// start-with-Windows flag on, starts the server and ends Quarvel after a grace period.
void LoadSettingsAndAutoStart();
void SaveSettings();
void OnCacheSizeLostFocus();
void OnAutoRunBoxClicked();
