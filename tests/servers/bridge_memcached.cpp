// A memcached.exe for running Quarvel under Wine on Linux: it runs the host's own
// memcached with the arguments it was given, and that server lives exactly as long
// as this process does.
//
// Wine starts a Linux program as a plain Unix process that no Windows process list
// shows and that TerminateProcess cannot reach, so this PE file stands in for it.
// It listens on a loopback port and starts bash with a script that connects back
// and only then starts memcached. However this process ends, Wine closes the
// connection, and the script stops memcached. When memcached ends by itself, the
// script sends its exit code and this process exits with it.
//
// The script travels on bash's command line rather than in a file, so that a copy
// of this program works from any folder.
#include "driver/winsock.h"
#include "util/command_line.h"
#include "util/handle.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Runs as: bash -c <script> memcached-bridge <port> <memcached arguments...>
//
// Wine leaves its own descriptors open across exec (its wineserver connection, the
// listening socket): none of them is the script's to keep, nor memcached's.
// memcached refuses to run as root unless told which user to be, and the tests run
// as root. The watcher waits for the connection to close (nothing is ever sent on
// it) and then kills memcached outright, as TerminateProcess would have: asked
// politely, memcached winds down for a second or more, its port still open, and
// longer while clients keep connecting.
constexpr wchar_t kHostScript[] = LR"script(for fd in /proc/$$/fd/*; do
    fd=${fd##*/}
    [ "$fd" -gt 2 ] && eval "exec $fd<&-" 2>/dev/null
done
PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
port=$1
shift
exec 3<>"/dev/tcp/127.0.0.1/$port" || exit 1
user=()
[ "$(id -u)" -eq 0 ] && user=(-u root)
memcached "${user[@]}" "$@" </dev/null 3>&- &
server=$!
(
    read -r -u 3 _
    kill -KILL "$server" 2>/dev/null
) </dev/null &
watcher=$!
wait "$server" 2>/dev/null
code=$?
kill "$watcher" 2>/dev/null
wait "$watcher" 2>/dev/null
printf '%d\n' "$code" >&3
exit "$code"
)script";

// Exit code for when the bridge itself fails, before memcached could say anything.
constexpr int kBridgeFailed = 1;

// How long bash may take to start and call back.
constexpr int kCallBackSeconds = 20;

void Fail(const wchar_t* what, unsigned long code) { std::fwprintf(stderr, L"memcached bridge: %ls (%lu)\n", what, code); }

// The arguments after the program's own name, exactly as given.
std::vector<std::wstring> OwnArguments() {
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!argv) return {};
    std::vector<std::wstring> arguments(argv + (count > 0 ? 1 : 0), argv + count);
    ::LocalFree(argv);
    return arguments;
}

// Wine's own conversion knows the prefix's drive mappings; Z: is the root only by
// default.
std::wstring DosFileName(const char* unixPath, const wchar_t* fallback) {
    using ToDos = WCHAR*(CDECL*)(LPCSTR);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    FARPROC found = kernel ? ::GetProcAddress(kernel, "wine_get_dos_file_name") : nullptr;
    if (!found) return fallback;
    auto toDos = reinterpret_cast<ToDos>(reinterpret_cast<void (*)()>(found));
    WCHAR* converted = toDos(unixPath);
    if (!converted) return fallback;
    std::wstring path = converted;
    ::HeapFree(::GetProcessHeap(), 0, converted);
    return path;
}

UniqueSocket ListenOnLoopback(unsigned short& port) {
    UniqueSocket listener(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!listener) return {};
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof(address);
    if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener.get(), 1) != 0 ||
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return {};
    port = ::ntohs(address.sin_port);
    return listener;
}

UniqueSocket AcceptWithin(SOCKET listener, int seconds) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(listener, &ready);
    timeval wait{seconds, 0};
    if (::select(0, &ready, nullptr, nullptr, &wait) != 1) return {};
    return UniqueSocket(::accept(listener, nullptr, nullptr));
}

bool StartHostSide(unsigned short port, const std::vector<std::wstring>& serverArguments) {
    const std::wstring bash = DosFileName("/bin/bash", L"Z:\\bin\\bash");
    std::vector<std::wstring> line = {bash, L"-c", kHostScript, L"memcached-bridge", std::to_wstring(port)};
    line.insert(line.end(), serverArguments.begin(), serverArguments.end());
    std::wstring commandLine = BuildCommandLine(line);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(bash.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &started)) {
        Fail(L"cannot start bash", ::GetLastError());
        return false;
    }
    // Wine gives no handles for a Unix process; close any that a later Wine might.
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);
    return true;
}

// Everything the host side sends until it closes the connection: memcached's exit
// code, or nothing when it was cut off.
std::string ReadUntilClosed(SOCKET link) {
    std::string said;
    char buffer[64];
    for (;;) {
        int got = ::recv(link, buffer, sizeof(buffer), 0);
        if (got <= 0) return said;
        said.append(buffer, static_cast<size_t>(got));
    }
}

}  // namespace

int wmain() {
    const std::vector<std::wstring> serverArguments = OwnArguments();

    WinsockSession winsock;
    if (!winsock.ok()) {
        Fail(L"winsock is not available", 0);
        return kBridgeFailed;
    }
    unsigned short port = 0;
    UniqueSocket listener = ListenOnLoopback(port);
    if (!listener) {
        Fail(L"cannot listen on a loopback port", static_cast<unsigned long>(::WSAGetLastError()));
        return kBridgeFailed;
    }
    if (!StartHostSide(port, serverArguments)) return kBridgeFailed;

    UniqueSocket link = AcceptWithin(listener.get(), kCallBackSeconds);
    listener.reset();
    if (!link) {
        Fail(L"the host side did not call back", static_cast<unsigned long>(::WSAGetLastError()));
        return kBridgeFailed;
    }

    const std::string said = ReadUntilClosed(link.get());
    char* end = nullptr;
    unsigned long code = std::strtoul(said.c_str(), &end, 10);
    if (said.empty() || end == said.c_str()) {
        Fail(L"the host side ended without memcached's exit code", 0);
        return kBridgeFailed;
    }
    return static_cast<int>(code);
}
