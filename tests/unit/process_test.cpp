// Finding and ending the server by its file name, against real processes: copies of
// the recording stand-in server under the names that matter, started hidden.
#include "driver/driver.h"
#include "server/process.h"
#include "util/command_line.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <vector>

using namespace driver;

namespace {

TEST(AsciiLower, FoldsOnlyTheAsciiCapitals) {
    const struct {
        const wchar_t* text;
        const wchar_t* lowered;
    } cases[] = {
        {L"", L""},
        {L"MEMCACHED.EXE", L"memcached.exe"},
        {L"Memcached.Exe", L"memcached.exe"},
        {L"memcached.exe", L"memcached.exe"},
        {L"AZ az 09", L"az az 09"},
        {L"@[`{", L"@[`{"},  // the neighbours of A-Z and a-z
        {L"ÄÖÜ.EXE", L"ÄÖÜ.exe"},
        {L"缓存服务.EXE", L"缓存服务.exe"},
        {L"ＡＢＣ", L"ＡＢＣ"},  // full-width capitals
        {L"İI", L"İi"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
        EXPECT_EQ(AsciiLower(c.text), c.lowered);
    }
}

struct Started {
    UniqueHandle process;
    DWORD id = 0;
};

bool StillRunning(const Started& started) { return ::WaitForSingleObject(started.process.get(), 0) == WAIT_TIMEOUT; }

DWORD ExitCode(const Started& started) {
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(started.process.get(), &code);
    return code;
}

// Each test starts its servers in a folder of its own, and whatever it started is
// ended and the folder removed however the test ends.
class ProcessLookup : public ::testing::Test {
protected:
    void SetUp() override {
        KillAll(L"memcached.exe");
        ASSERT_FALSE(folder_.empty());
    }

    ~ProcessLookup() override {
        for (Started& started : started_) {
            if (StillRunning(started)) {
                ::TerminateProcess(started.process.get(), 1);
                ::WaitForSingleObject(started.process.get(), 5000);
            }
        }
        started_.clear();
        RemoveFolder(folder_);
    }

    // Starts a hidden copy of the stand-in server under `name` and waits until a
    // snapshot lists it by that name. Detached, it gets no console: a console of its
    // own comes with a conhost.exe that Wine now and then leaves running after the
    // server is ended, holding this test's output open.
    const Started& Start(const std::wstring& name) {
        static const Started none;
        std::wstring path = folder_ + L"\\" + name;
        if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
            !::CopyFileW((BinDirectory() + L"\\recording_memcached.exe").c_str(), path.c_str(), TRUE)) {
            ADD_FAILURE() << "cannot copy the stand-in server to " << testing::PrintToString(path);
            return none;
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        PROCESS_INFORMATION info{};
        std::wstring commandLine = QuoteArgument(path);
        if (!::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                              folder_.c_str(), &startup, &info)) {
            ADD_FAILURE() << "cannot start " << testing::PrintToString(path) << ": error " << ::GetLastError();
            return none;
        }
        UniqueHandle thread(info.hThread);
        started_.push_back({UniqueHandle(info.hProcess), info.dwProcessId});
        const DWORD id = info.dwProcessId;
        EXPECT_TRUE(WaitUntil([&] { return ProcessFileName(id) == name; }, 10s))
            << testing::PrintToString(name) << " is listed as " << testing::PrintToString(ProcessFileName(id));
        return started_.back();
    }

private:
    std::wstring folder_ = MakeTempFolder(L"-lookup");
    std::deque<Started> started_;  // a deque, so that handed-out references stay put
};

TEST_F(ProcessLookup, AnyCaseOfTheNameCountsAndThatProcessIsEnded) {
    for (const wchar_t* name : {L"memcached.exe", L"MEMCACHED.EXE", L"Memcached.Exe"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
        const Started& server = Start(name);
        ASSERT_TRUE(server.process);

        EXPECT_TRUE(IsProcessRunning(L"memcached.exe"));
        EXPECT_TRUE(IsProcessRunning(L"MEMCACHED.exe"));
        EXPECT_EQ(FindProcessIdByName(L"memcached.exe", false), server.id);

        UniqueHandle exited;
        EXPECT_TRUE(KillProcessByName(L"memcached.exe", &exited));
        ASSERT_TRUE(exited) << "no handle to wait on";
        EXPECT_EQ(::WaitForSingleObject(exited.get(), 5000), WAIT_OBJECT_0);
        EXPECT_EQ(::WaitForSingleObject(server.process.get(), 0), WAIT_OBJECT_0);
        EXPECT_EQ(ExitCode(server), 0u);
        EXPECT_FALSE(IsProcessRunning(L"memcached.exe"));
    }
}

TEST_F(ProcessLookup, LookalikeNamesDoNotCountAndAreLeftAlone) {
    const wchar_t* names[] = {L"memcached.exe.bak", L"memcached.exe2", L"xmemcached.exe", L"memcached"};
    std::vector<const Started*> servers;
    for (const wchar_t* name : names) {
        servers.push_back(&Start(name));
        ASSERT_TRUE(servers.back()->process) << testing::PrintToString(std::wstring(name));
    }

    EXPECT_FALSE(IsProcessRunning(L"memcached.exe"));
    EXPECT_EQ(FindProcessIdByName(L"memcached.exe", false), 0u);
    EXPECT_EQ(FindProcessIdByName(L"memcached.exe", true), 0u);

    UniqueHandle exited;
    EXPECT_FALSE(KillProcessByName(L"memcached.exe", &exited));
    EXPECT_FALSE(exited);
    ::Sleep(300);  // a termination, had one been sent, has landed by now
    for (size_t i = 0; i < servers.size(); ++i)
        EXPECT_TRUE(StillRunning(*servers[i])) << testing::PrintToString(std::wstring(names[i])) << " was ended";
}

TEST_F(ProcessLookup, OfTwoServersOnlyTheFirstInSnapshotOrderIsEnded) {
    const Started& one = Start(L"memcached.exe");
    const Started& two = Start(L"memcached.exe");
    ASSERT_TRUE(one.process);
    ASSERT_TRUE(two.process);

    std::vector<DWORD> order = ProcessIds();
    auto at = [&](DWORD id) { return std::find(order.begin(), order.end(), id) - order.begin(); };
    const Started& first = at(one.id) < at(two.id) ? one : two;
    const Started& second = &first == &one ? two : one;
    EXPECT_EQ(FindProcessIdByName(L"memcached.exe", false), first.id);

    UniqueHandle exited;
    EXPECT_TRUE(KillProcessByName(L"memcached.exe", &exited));
    EXPECT_EQ(::WaitForSingleObject(first.process.get(), 5000), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCode(first), 0u);

    ::Sleep(300);
    EXPECT_TRUE(StillRunning(second)) << "the second server was ended too";
    EXPECT_TRUE(IsProcessRunning(L"memcached.exe"));
    EXPECT_EQ(FindProcessIdByName(L"memcached.exe", false), second.id);
}

TEST_F(ProcessLookup, ChineseNameIsFoundAndEnded) {
    const Started& server = Start(L"缓存服务.exe");
    ASSERT_TRUE(server.process);

    EXPECT_TRUE(IsProcessRunning(L"缓存服务.exe"));
    EXPECT_TRUE(IsProcessRunning(L"缓存服务.EXE"));
    EXPECT_FALSE(IsProcessRunning(L"缓存.exe"));
    EXPECT_EQ(FindProcessIdByName(L"缓存服务.exe", true), server.id);

    UniqueHandle exited;
    EXPECT_TRUE(KillProcessByName(L"缓存服务.exe", &exited));
    EXPECT_EQ(::WaitForSingleObject(server.process.get(), 5000), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCode(server), 0u);
}

TEST_F(ProcessLookup, CaseSensitiveLookupWantsTheExactCase) {
    const Started& server = Start(L"Memcached.Exe");
    ASSERT_TRUE(server.process);

    const struct {
        const wchar_t* name;
        bool caseSensitive;
        bool found;
    } cases[] = {
        {L"Memcached.Exe", true, true},   {L"memcached.exe", true, false}, {L"MEMCACHED.EXE", true, false},
        {L"Memcached.exe", true, false},  {L"memcached.exe", false, true}, {L"MEMCACHED.EXE", false, true},
        {L"Memcached.Exe", false, true},  {L"Memcached", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)) + (c.caseSensitive ? " case-sensitive" : ""));
        EXPECT_EQ(FindProcessIdByName(c.name, c.caseSensitive), c.found ? server.id : 0u);
    }
}

}  // namespace
