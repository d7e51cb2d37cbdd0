// Finding and ending processes by their executable's file name. Quarvel keeps no
// handle or id of the server: every question looks the process list up afresh.
#pragma once

#include "util/handle.h"

#include <windows.h>

#include <string>

// Lower-cases the ASCII letters A to Z only.
std::wstring AsciiLower(std::wstring text);

// True when at least one running process has the file name `name`, in any case.
bool IsProcessRunning(const std::wstring& name);

// The id of the first process, in snapshot order, named `name`; 0 when none is.
DWORD FindProcessIdByName(const std::wstring& name, bool caseSensitive);

// Terminates the first process named `name` (in any case; Quarvel's own file name
// when none is given) with exit code 0. True when the termination call succeeded.
// `exited`, when given, receives a handle on which the caller can wait for the exit.
bool KillProcessByName(const std::wstring& name = {}, UniqueHandle* exited = nullptr);
