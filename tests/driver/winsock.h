// Winsock for the test programs: a socket that closes itself, and winsock started
// for the life of an object.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "util/handle.h"

struct SocketTraits {
    using Type = SOCKET;
    static Type Invalid() noexcept { return INVALID_SOCKET; }
    static void Close(Type s) noexcept { ::closesocket(s); }
};
using UniqueSocket = UniqueResource<SocketTraits>;

class WinsockSession {
public:
    WinsockSession() { ok_ = ::WSAStartup(MAKEWORD(2, 2), &data_) == 0; }
    ~WinsockSession() {
        if (ok_) ::WSACleanup();
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
    bool ok() const { return ok_; }

private:
    WSADATA data_{};
    bool ok_ = false;
};
