#include "driver/memcached_client.h"

#include "driver/driver.h"

namespace driver {

using namespace std::chrono_literals;

// A connection to 127.0.0.1:11211, or none when nothing accepts within `timeout`.
UniqueSocket Connect(std::chrono::milliseconds timeout) {
    UniqueSocket link(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!link) return {};
    u_long nonBlocking = 1;
    ::ioctlsocket(link.get(), FIONBIO, &nonBlocking);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    address.sin_port = ::htons(kMemcachedPort);
    if (::connect(link.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 &&
        ::WSAGetLastError() != WSAEWOULDBLOCK)
        return {};
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(link.get(), &writable);
    FD_SET(link.get(), &failed);
    timeval wait{0, static_cast<long>(timeout.count() * 1000)};
    if (::select(0, nullptr, &writable, &failed, &wait) != 1 || FD_ISSET(link.get(), &failed)) return {};
    int error = 0;
    int length = sizeof(error);
    ::getsockopt(link.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
    if (error != 0) return {};
    u_long blocking = 0;
    ::ioctlsocket(link.get(), FIONBIO, &blocking);
    return link;
}

bool PortOpen() { return static_cast<bool>(Connect(200ms)); }

// Sends one memcached command and answers everything up to its closing END line;
// empty when the server cannot be reached or does not answer in time.
std::string Ask(const std::string& command) {
    UniqueSocket link = Connect(500ms);
    if (!link) return {};
    DWORD timeoutMs = 2000;
    ::setsockopt(link.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof(timeoutMs));
    std::string request = command + "\r\n";
    if (::send(link.get(), request.data(), static_cast<int>(request.size()), 0) != static_cast<int>(request.size()))
        return {};
    std::string answer;
    char buffer[4096];
    while (answer.size() < 5 || answer.compare(answer.size() - 5, 5, "END\r\n") != 0) {
        int got = ::recv(link.get(), buffer, sizeof(buffer), 0);
        if (got <= 0) return {};
        answer.append(buffer, static_cast<size_t>(got));
    }
    return answer;
}

// The value of "STAT <name> <value>" in an answer to a stats command.
std::string Stat(const std::string& answer, const std::string& name) {
    const std::string key = "STAT " + name + " ";
    size_t at = answer.find(key);
    if (at == std::string::npos) return {};
    at += key.size();
    return answer.substr(at, answer.find("\r\n", at) - at);
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// A Linux process, seen through Wine's root drive: its command name, or empty when
// there is no such process.
std::string HostProcessName(const std::string& pid) {
    std::string name = ReadFileBytes(L"Z:\\proc\\" + Widen(pid) + L"\\comm");
    while (!name.empty() && name.back() == '\n') name.pop_back();
    return name;
}

bool HostProcessGone(const std::string& pid) {
    if (::GetFileAttributesW((L"Z:\\proc\\" + Widen(pid)).c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    // Ended, but not yet collected by its parent.
    std::string stat = ReadFileBytes(L"Z:\\proc\\" + Widen(pid) + L"\\stat");
    size_t state = stat.rfind(')');
    return state != std::string::npos && stat.compare(state, 3, ") Z") == 0;
}

}  // namespace driver
