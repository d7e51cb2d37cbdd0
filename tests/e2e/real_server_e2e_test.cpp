// Quarvel with the bridge beside it runs the host's real memcached: a memcached
// client sees the size the user typed, a restart leaves exactly one server, and a
// stop closes the port.
#include "driver/driver.h"
#include "driver/memcached_client.h"

#include <gtest/gtest.h>

#include <string>

using namespace driver;

namespace {

class RealServer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(winsock.ok());
        KillAll(L"memcached.exe");
        ASSERT_FALSE(PortOpen()) << "something already listens on port 11211; these tests need it free";
        quarvel.AddBridgeServer();
    }
    void TearDown() override {
        quarvel.Kill();
        KillAll(L"memcached.exe");
        WaitUntil([] { return !PortOpen(); }, 3s);
    }

    // The cache size as the box holds it, then a click on the start button, and the
    // wait until the status line has settled.
    void StartWithSize(const std::wstring& size) {
        ::SendMessageW(quarvel.Control(Ctl::编辑框1), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(size.c_str()));
        quarvel.Click(Ctl::按钮1);
        ASSERT_TRUE(quarvel.WaitForText(Ctl::透明标签2, kStarting, 5s));
        ASSERT_TRUE(WaitUntil([&] { return quarvel.Text(Ctl::透明标签2) != kStarting; }, 10s));
    }

    static std::string MaxBytes() { return Stat(Ask("stats settings"), "maxbytes"); }
    static std::string Pid() { return Stat(Ask("stats"), "pid"); }

    WinsockSession winsock;
    Quarvel quarvel;
};

std::string Bytes(long long megabytes) { return std::to_string(megabytes * 1024 * 1024); }

TEST_F(RealServer, StartRestartAndStopAsAClientSeesThem) {
    ASSERT_TRUE(quarvel.Start());

    StartWithSize(L"64");
    EXPECT_EQ(quarvel.Text(Ctl::透明标签2), kRunning);
    EXPECT_EQ(MaxBytes(), Bytes(64));
    std::string first = Pid();
    ASSERT_FALSE(first.empty());

    StartWithSize(L"128");
    EXPECT_EQ(quarvel.Text(Ctl::透明标签2), kRunning);
    EXPECT_EQ(MaxBytes(), Bytes(128)) << "the new server answers, not the old one";
    EXPECT_NE(Pid(), first);
    EXPECT_TRUE(HostProcessGone(first)) << "the old server is gone";
    EXPECT_EQ(CountProcesses(L"memcached.exe"), 1);

    std::string second = Pid();
    quarvel.Click(Ctl::按钮2);
    ASSERT_TRUE(WaitUntil([] { return !PortOpen(); }, 5s)) << "the stop closes the port";
    EXPECT_TRUE(quarvel.WaitForText(Ctl::透明标签2, L"memcached.exe - 未运行", 3s));
    EXPECT_TRUE(WaitUntil([&] { return HostProcessGone(second); }, 2s));
    EXPECT_EQ(CountProcesses(L"memcached.exe"), 0);
}

TEST_F(RealServer, TwentyRestartsEachLeaveOneServerWithTheNewSize) {
    ASSERT_TRUE(quarvel.Start());
    std::string previous;
    for (int i = 1; i <= 20; ++i) {
        SCOPED_TRACE(i);
        long long size = 16 + 8 * i;
        StartWithSize(std::to_wstring(size));
        EXPECT_EQ(quarvel.Text(Ctl::透明标签2), kRunning);
        EXPECT_EQ(MaxBytes(), Bytes(size));
        std::string pid = Pid();
        EXPECT_NE(pid, previous);
        if (!previous.empty()) {
            EXPECT_TRUE(HostProcessGone(previous)) << "pid " << previous << " still runs";
        }
        EXPECT_EQ(CountProcesses(L"memcached.exe"), 1);
        previous = pid;
    }
}

// Started with the start-with-Windows flag on, Quarvel starts the real server with
// the stored size by itself.
TEST_F(RealServer, AutoStartRunsTheStoredSize) {
    std::wstring text = L"[Quarvel]\r\nmemcached 最大的缓存配置=48\r\n开机自动运行=1\r\n";
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    quarvel.AddFile(L"Quarvel.ini", bytes);

    ASSERT_TRUE(quarvel.Start());
    EXPECT_TRUE(WaitUntil([] { return !MaxBytes().empty(); }, 10s));
    EXPECT_EQ(MaxBytes(), Bytes(48));
    EXPECT_TRUE(quarvel.Checked());
    EXPECT_TRUE(quarvel.WaitForText(Ctl::透明标签2, kRunning, 5s));
}

}  // namespace
