// A stand-in memcached.exe for tests: it appends its exact command line and its
// current directory to "memcached-record.bin" beside itself, then stays alive until
// it is terminated. When "memcached-exit.txt" lies beside it, it exits at once
// with the code written there instead, like a server that fails to start.
//
// Record format: UTF-16, per start: command line, NUL, current directory, NUL.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::wstring OwnDirectory() {
    std::vector<wchar_t> path(32768);
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    std::wstring full(path.data(), length);
    return full.substr(0, full.rfind(L'\\'));
}

void AppendRecord(const std::wstring& file) {
    std::vector<wchar_t> cwd(32768);
    DWORD cwdLength = GetCurrentDirectoryW(static_cast<DWORD>(cwd.size()), cwd.data());
    std::wstring record = GetCommandLineW();
    record.push_back(L'\0');
    record.append(cwd.data(), cwdLength);
    record.push_back(L'\0');
    // Several servers may start close together; the append lock keeps records whole.
    HANDLE out = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(out, record.data(), static_cast<DWORD>(record.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(out);
}

bool ReadExitCode(const std::wstring& file, UINT& code) {
    HANDLE in = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE) return false;
    char text[32] = {};
    DWORD read = 0;
    ReadFile(in, text, sizeof(text) - 1, &read, nullptr);
    CloseHandle(in);
    code = static_cast<UINT>(std::strtoul(text, nullptr, 10));
    return true;
}

}  // namespace

int wmain() {
    const std::wstring directory = OwnDirectory();
    AppendRecord(directory + L"\\memcached-record.bin");
    UINT code = 0;
    if (ReadExitCode(directory + L"\\memcached-exit.txt", code)) return static_cast<int>(code);
    Sleep(INFINITE);
    return 0;
}
