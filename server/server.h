// The server's start, stop and status line.
#pragma once

#include <string>

inline constexpr wchar_t kServerFileName[] = L"memcached.exe";

// The server's full path and the command line it is started with: its path, "-m"
// and the cache-size text as exactly one argument, whatever it holds.
std::wstring ServerPath(const std::wstring& runDirectory);
std::wstring ServerCommandLine(const std::wstring& runDirectory, const std::wstring& cacheSize);

void RefreshServerStatus();
void StartOrRestartServer();
void OnStartButtonClicked();
void OnStopButtonClicked();
