// Process-wide operations: where Quarvel runs from, starting other programs, the
// event pump, ending the program from any thread, threads and the message box.
#pragma once

#include <windows.h>

#include <string>

// Records the run directory, the executable file name and the main thread, makes
// the run directory current and creates the hidden owner window that carries the
// end request. Called once, on the window's thread, before anything else.
void InitialiseProgram(HINSTANCE instance);

// The directory of Quarvel's executable without a trailing backslash ("C:" for the
// root of a drive; empty when the path has no backslash).
const std::wstring& RunDirectory();
// The executable's file name with its extension.
const std::wstring& ExecutableFileName();

// Splits a module path at its last backslash into directory and file name.
void SplitModulePath(const std::wstring& path, std::wstring& directory, std::wstring& fileName);

// Starts a program hidden with the environment and current directory of Quarvel,
// waits up to 1000 ms for it to become input-idle and closes both handles.
// `application` is the full path of the executable, so nothing is searched.
bool RunProgram(const std::wstring& application, const std::wstring& commandLine);

// Handles every message waiting in the calling thread's queue, including those that
// arrive meanwhile. A quit request stays in the queue for the main loop; the answer
// says whether one was seen, and its code.
bool ProcessPendingEvents(int* quitCode = nullptr);

// Ends the process with `exitCode`, from any thread; no handler runs from the moment
// it is called. From another thread the window's thread carries out the ending, so
// the call does not return.
[[noreturn]] void EndProgram(UINT exitCode);

// Runs `routine` on a new thread that nobody waits for.
bool StartThread(LPTHREAD_START_ROUTINE routine);

// A message box with no owner and the caption "信息：", task-modal unless
// system-modal is asked for.
int ShowMessageBox(const std::wstring& text, UINT flags);

// The message loop of the window's thread; returns the exit code of the quit request.
int RunMessageLoop();
