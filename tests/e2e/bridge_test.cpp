// The memcached.exe that runs the host's real memcached: a client reaches the server
// it started, the server goes when the bridge is terminated, and a server that
// cannot start ends the bridge with its exit code.
#include "driver/driver.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

using namespace driver;

namespace {

constexpr unsigned short kMemcachedPort = 11211;

struct SocketTraits {
    using Type = SOCKET;
    static Type Invalid() noexcept { return INVALID_SOCKET; }
    static void Close(Type s) noexcept { ::closesocket(s); }
};
using UniqueSocket = UniqueResource<SocketTraits>;

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

// Wine's path for a Windows one, for arguments that the Linux memcached reads.
std::string UnixPath(const std::wstring& windowsPath) {
    using ToUnix = char*(CDECL*)(LPCWSTR);
    FARPROC found = ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    if (!found) return {};
    char* converted = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(found))(windowsPath.c_str());
    if (!converted) return {};
    std::string path = converted;
    ::HeapFree(::GetProcessHeap(), 0, converted);
    return path;
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

std::wstring SnapshotName(DWORD id) {
    UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return {};
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry))
        if (entry.th32ProcessID == id) return entry.szExeFile;
    return {};
}

class Bridge : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data{};
        ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
        winsock_ = true;
        ASSERT_FALSE(folder_.empty());
        ASSERT_TRUE(::CopyFileW((BinDirectory() + L"\\bridge_memcached.exe").c_str(), server().c_str(), TRUE));
        KillAll(L"memcached.exe");
        ASSERT_FALSE(PortOpen()) << "something already listens on port 11211; these tests need it free";
    }

    ~Bridge() override {
        if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(process_.get(), 1);
            ::WaitForSingleObject(process_.get(), 5000);
        }
        process_.reset();
        RemoveFolder(folder_);
        if (winsock_) ::WSACleanup();
    }

    std::wstring server() const { return folder_ + L"\\memcached.exe"; }

    // Detached: a console would come with a conhost.exe that Wine may leave behind,
    // holding this test's output open.
    bool Start(const std::vector<std::wstring>& arguments) {
        std::vector<std::wstring> line = {server()};
        line.insert(line.end(), arguments.begin(), arguments.end());
        // Every argument quoted; none of them holds a backslash that would need more.
        std::wstring commandLine;
        for (const std::wstring& argument : line) {
            if (!commandLine.empty()) commandLine += L' ';
            commandLine += L'"';
            for (wchar_t c : argument) {
                if (c == L'"') commandLine += L'\\';
                commandLine += c;
            }
            commandLine += L'"';
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        if (!::CreateProcessW(server().c_str(), commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                              folder_.c_str(), &startup, &info))
            return false;
        UniqueHandle thread(info.hThread);
        process_.reset(info.hProcess);
        processId_ = info.dwProcessId;
        return true;
    }

    std::wstring folder_ = MakeTempFolder(L" bridge");
    UniqueHandle process_;
    DWORD processId_ = 0;

private:
    bool winsock_ = false;
};

TEST_F(Bridge, ServesTheHostsMemcachedWithItsArgumentsUntilTerminated) {
    // A space and a quote in the arguments: they must reach memcached as given.
    const std::string pidFile = UnixPath(folder_) + "/pid file";
    ASSERT_NE(pidFile, "/pid file") << "Wine's path conversion is not available";
    ASSERT_TRUE(Start({L"-m", L"64", L"-D", L"\"", L"-P", Widen(pidFile)}));

    std::string settings;
    auto started = Clock::now();
    EXPECT_TRUE(WaitUntil([&] { return Stat(settings = Ask("stats settings"), "maxbytes") == "67108864"; }, 5s))
        << "no memcached with -m 64 answered on 127.0.0.1:11211; last answer:\n" << settings;
    std::cout << "memcached answered "
              << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count()
              << " ms after the start\n";
    EXPECT_EQ(Stat(settings, "stat_key_prefix"), "\"");

    EXPECT_EQ(SnapshotName(processId_), L"memcached.exe");
    EXPECT_EQ(CountProcesses(L"memcached.exe"), 1);

    const std::string pid = Stat(Ask("stats"), "pid");
    ASSERT_FALSE(pid.empty());
    EXPECT_EQ(HostProcessName(pid), "memcached");
    std::string written = ReadFileBytes(folder_ + L"\\pid file");
    while (!written.empty() && written.back() == '\n') written.pop_back();
    EXPECT_EQ(written, pid);

    ASSERT_TRUE(::TerminateProcess(process_.get(), 1));
    auto terminated = Clock::now();
    ASSERT_EQ(::WaitForSingleObject(process_.get(), 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(WaitUntil([] { return !PortOpen(); }, 1s)) << "port 11211 still open a second after the bridge ended";
    EXPECT_TRUE(WaitUntil([&] { return HostProcessGone(pid); }, 1s))
        << "memcached (pid " << pid << ") outlived the bridge by a second";
    std::cout << "memcached gone "
              << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - terminated).count()
              << " ms after the termination\n";
    ::Sleep(300);
    EXPECT_FALSE(PortOpen()) << "port 11211 opened again";
    EXPECT_EQ(CountProcesses(L"memcached.exe"), 0);
}

TEST_F(Bridge, EndsWithMemcachedsExitCodeWhenTheServerEndsByItself) {
    const struct {
        std::vector<std::wstring> arguments;
        bool succeeds;
    } cases[] = {
        {{L"-m", L""}, false},
        {{L"-m", L"abc"}, false},
        {{L"-m", L"64", L"--no-such-option"}, false},
        {{L"-V"}, true},  // prints its version and ends well
    };
    for (const auto& c : cases) {
        std::wstring shown;
        for (const std::wstring& argument : c.arguments) shown += L"[" + argument + L"]";
        SCOPED_TRACE(testing::PrintToString(shown));
        ASSERT_TRUE(Start(c.arguments));
        ASSERT_EQ(::WaitForSingleObject(process_.get(), 10000), WAIT_OBJECT_0) << "the bridge is still running";
        DWORD code = STILL_ACTIVE;
        ::GetExitCodeProcess(process_.get(), &code);
        if (c.succeeds)
            EXPECT_EQ(code, 0u);
        else
            EXPECT_NE(code, 0u);
        EXPECT_FALSE(PortOpen());
    }
}

}  // namespace
