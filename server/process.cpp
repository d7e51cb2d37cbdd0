#include "server/process.h"

#include "app/program.h"
#include "util/handle.h"

#include <tlhelp32.h>

#include <utility>

namespace {

// Calls `visit` with each running process until it answers true; process-only
// snapshots, since only names and ids are read.
template <typename Visit>
bool ForEachProcess(Visit visit) {
    UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (visit(entry)) return true;
    }
    return false;
}

}  // namespace

std::wstring AsciiLower(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return text;
}

bool IsProcessRunning(const std::wstring& name) {
    const std::wstring wanted = AsciiLower(name);
    return ForEachProcess([&](const PROCESSENTRY32W& entry) { return AsciiLower(entry.szExeFile) == wanted; });
}

DWORD FindProcessIdByName(const std::wstring& name, bool caseSensitive) {
    const std::wstring wanted = caseSensitive ? name : AsciiLower(name);
    DWORD found = 0;
    ForEachProcess([&](const PROCESSENTRY32W& entry) {
        if ((caseSensitive ? std::wstring(entry.szExeFile) : AsciiLower(entry.szExeFile)) != wanted) return false;
        found = entry.th32ProcessID;
        return true;
    });
    return found;
}

bool KillProcessByName(const std::wstring& name, UniqueHandle* exited) {
    DWORD id = FindProcessIdByName(name.empty() ? ExecutableFileName() : name, false);
    // Synchronize access lets a caller wait until the process is really gone.
    UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    if (!process) return false;
    if (::TerminateProcess(process.get(), 0) != TRUE) return false;
    if (exited) *exited = std::move(process);
    return true;
}
