// The memcached.exe that runs the host's real memcached: a client reaches the server
// it started, the server goes when the bridge is terminated, and a server that
// cannot start ends the bridge with its exit code.
#include "driver/driver.h"
#include "driver/memcached_client.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

using namespace driver;

namespace {

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

    EXPECT_EQ(ProcessFileName(processId_), L"memcached.exe");
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
