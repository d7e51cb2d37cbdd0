// The settings file and the start-with-Windows Run value, seen from outside the
// real Quarvel.exe: what a start shows and does for each file, what the user's
// actions leave in the file and the registry, and the unattended auto-start.
#include "driver/driver.h"

#include <gtest/gtest.h>

#include <optional>

using namespace driver;

namespace {

constexpr wchar_t kRunKey[] = L"software\\microsoft\\windows\\CurrentVersion\\Run";

std::string Utf16File(const std::wstring& text) {
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    return bytes;
}

std::wstring IniPath(const Quarvel& q) { return q.folder() + L"\\Quarvel.ini"; }

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring ProfileText(const std::wstring& file, const wchar_t* key) {
    std::vector<wchar_t> buffer(32768);
    DWORD length = ::GetPrivateProfileStringW(L"Quarvel", key, L"<missing>", buffer.data(),
                                              static_cast<DWORD>(buffer.size()), file.c_str());
    return std::wstring(buffer.data(), length);
}

// The Run value "Quarvel" in the 64-bit view, when there is one.
std::optional<std::wstring> RunValue() {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_READ | KEY_WOW64_64KEY, &opened) != ERROR_SUCCESS)
        return std::nullopt;
    UniqueRegKey run(opened);
    std::vector<wchar_t> data(32768);
    DWORD bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    DWORD type = 0;
    if (::RegQueryValueExW(run.get(), L"Quarvel", nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &bytes) !=
        ERROR_SUCCESS)
        return std::nullopt;
    std::wstring text(data.data(), bytes / sizeof(wchar_t));
    if (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

void RemoveRunValue() {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &opened) != ERROR_SUCCESS)
        return;
    UniqueRegKey run(opened);
    ::RegDeleteValueW(run.get(), L"Quarvel");
}

// A message box of Quarvel's, with its caption, as the user would see it.
bool MessageBoxShown(const Quarvel& q) {
    for (HWND box = nullptr; (box = ::FindWindowExW(nullptr, box, L"#32770", L"信息：")) != nullptr;) {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(box, &owner);
        if (owner == q.processId() && ::IsWindowVisible(box)) return true;
    }
    return false;
}

void FocusCacheBox(const Quarvel& q) {
    q.Click(Ctl::编辑框1);
    ASSERT_TRUE(WaitUntil([&] { return q.Focus() == q.Control(Ctl::编辑框1); }, 3s));
}

// Every test leaves the machine's Run key as it found it: without Quarvel.
class Settings : public ::testing::Test {
protected:
    void SetUp() override { RemoveRunValue(); }
    void TearDown() override { RemoveRunValue(); }
};

TEST_F(Settings, WithoutTheFlagOnTheBoxStaysUncheckedAndNoServerStarts) {
    struct Case {
        const char* name;
        std::optional<std::wstring> file;
        const wchar_t* shown;
    };
    const Case cases[] = {
        {"no file", std::nullopt, L"256"},
        {"flag 0", L"[Quarvel]\r\nmemcached 最大的缓存配置=64\r\n开机自动运行=0\r\n", L"64"},
        {"flag yes", L"[Quarvel]\r\nmemcached 最大的缓存配置=99\r\n开机自动运行=yes\r\n", L"99"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Quarvel q;
        q.AddRecordingServer();
        if (c.file) q.AddFile(L"Quarvel.ini", Utf16File(*c.file));
        const std::string before = c.file ? Utf16File(*c.file) : std::string();
        ASSERT_TRUE(q.Start());
        // Read before the window appears: it never shows a size other than the saved one.
        EXPECT_EQ(q.Text(Ctl::编辑框1), c.shown);
        EXPECT_FALSE(WaitUntil([&] { return !ReadServerStarts(q.folder()).empty(); }, 3s)) << "a server was started";
        EXPECT_FALSE(q.Checked());
        EXPECT_TRUE(q.Running());
        EXPECT_EQ(Exists(IniPath(q)), c.file.has_value()) << "a start alone writes nothing";
        if (c.file) {
            EXPECT_EQ(ReadFileBytes(IniPath(q)), before);
        }
        EXPECT_FALSE(RunValue().has_value());
    }
}

TEST_F(Settings, LeavingTheCacheBoxFirstCreatesAUtf16FileWithBothValues) {
    Quarvel q;
    ASSERT_TRUE(q.Start());
    FocusCacheBox(q);
    PressKey(VK_END);
    TypeText(L"8");
    ASSERT_TRUE(q.WaitForText(Ctl::编辑框1, L"2568", 3s));
    ASSERT_FALSE(Exists(IniPath(q))) << "saved before the box was left";
    PressKey(VK_TAB);
    ASSERT_TRUE(WaitUntil([&] { return ProfileText(IniPath(q), L"开机自动运行") == L"0"; }, 10s));
    std::string bytes = ReadFileBytes(IniPath(q));
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE") << "UTF-16 with its byte-order mark";
    EXPECT_EQ(ProfileText(IniPath(q), L"memcached 最大的缓存配置"), L"2568");
    EXPECT_FALSE(RunValue().has_value());
}

TEST_F(Settings, TheBoxWritesAndRemovesTheRunValueAndLeavingTheCacheBoxRewritesIt) {
    Quarvel q(L" 带 空格");
    ASSERT_TRUE(q.Start());
    // Windows reads the value as a command line: a path with blanks comes quoted.
    const std::wstring expected = L"\"" + q.exePath() + L"\"";

    q.Click(Ctl::选择框1);
    EXPECT_TRUE(WaitUntil([&] { return RunValue() == expected; }, 10s))
        << "Run value " << testing::PrintToString(RunValue().value_or(L"<none>"));
    EXPECT_TRUE(WaitUntil([&] { return ProfileText(IniPath(q), L"开机自动运行") == L"1"; }, 5s));
    EXPECT_TRUE(q.Checked());
    EXPECT_EQ(ReadFileBytes(IniPath(q)).substr(0, 2), "\xFF\xFE");

    // Removed behind Quarvel's back, the value comes back each time the box is left.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        RemoveRunValue();
        // Two quick clicks on one spot make a double click, which moves no focus.
        ::Sleep(::GetDoubleClickTime() + 100);
        FocusCacheBox(q);
        PressKey(VK_TAB);
        EXPECT_TRUE(WaitUntil([&] { return RunValue() == expected; }, 10s));
    }
    EXPECT_EQ(ProfileText(IniPath(q), L"开机自动运行"), L"1");

    q.Click(Ctl::选择框1);
    EXPECT_TRUE(WaitUntil([&] { return ProfileText(IniPath(q), L"开机自动运行") == L"0"; }, 10s));
    EXPECT_FALSE(RunValue().has_value());
    EXPECT_FALSE(q.Checked());
    EXPECT_FALSE(MessageBoxShown(q));
    EXPECT_TRUE(ReadServerStarts(q.folder()).empty());
}

TEST_F(Settings, AFileThatCannotBeWrittenIsLeftAsItWasWithoutComplaint) {
    const std::string old = Utf16File(L"[Quarvel]\r\nmemcached 最大的缓存配置=77\r\n开机自动运行=0\r\n");
    Quarvel q;
    q.AddFile(L"Quarvel.ini", old);
    const std::wstring ini = IniPath(q);
    ASSERT_TRUE(::SetFileAttributesW(ini.c_str(), FILE_ATTRIBUTE_READONLY));
    // Cleared again however the test ends, or the run folder could not be removed.
    struct Writable {
        std::wstring path;
        ~Writable() { ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL); }
    } writableAtTheEnd{ini};
    {
        // Wine running as root writes through the read-only attribute, so a reader
        // that shares no writing makes the writes fail here as the attribute does
        // on Windows.
        UniqueFileHandle reader(
            ::CreateFileW(ini.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(reader);
        ASSERT_TRUE(q.Start());
        ASSERT_TRUE(q.WaitForText(Ctl::编辑框1, L"77", 5s));
        FocusCacheBox(q);
        PressKey(VK_END);
        TypeText(L"5");
        ASSERT_TRUE(q.WaitForText(Ctl::编辑框1, L"775", 3s));
        PressKey(VK_TAB);
        // The Run value is written before the flag, so once it is there the save of
        // the flag is under way; the close is taken after that save.
        q.Click(Ctl::选择框1);
        ASSERT_TRUE(WaitUntil([&] { return RunValue().has_value(); }, 10s));
        EXPECT_FALSE(MessageBoxShown(q));
        ::PostMessageW(q.window(), WM_CLOSE, 0, 0);
        EXPECT_EQ(q.WaitForExit(10s), 0u);
    }
    EXPECT_EQ(ReadFileBytes(ini), old);

    // The next start reads the old values.
    ASSERT_TRUE(q.Start());
    EXPECT_TRUE(q.WaitForText(Ctl::编辑框1, L"77", 5s)) << "shows " << testing::PrintToString(q.Text(Ctl::编辑框1));
    ::Sleep(500);
    EXPECT_FALSE(q.Checked());
    q.Kill();
}

// The two tests that wait out the 30 seconds.
const wchar_t kAutoStartFile[] = L"[Quarvel]\r\nmemcached 最大的缓存配置=77\r\n开机自动运行=1\r\n";

TEST_F(Settings, AutoStartLeftAloneStartsTheServerAndEndsWithZeroLeavingItRunning) {
    Quarvel q(L" auto start");
    q.AddRecordingServer();
    q.AddFile(L"Quarvel.ini", Utf16File(kAutoStartFile));
    const std::string before = ReadFileBytes(IniPath(q));
    ASSERT_TRUE(q.Start());
    const auto shown = Clock::now();

    EXPECT_TRUE(WaitUntil([&] { return q.Checked(); }, 5s));
    EXPECT_EQ(q.Text(Ctl::编辑框1), L"77");
    ASSERT_TRUE(WaitUntil([&] { return !ReadServerStarts(q.folder()).empty(); }, 10s));
    std::vector<ServerStart> starts = ReadServerStarts(q.folder());
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].commandLine, L"\"" + q.folder() + L"\\memcached.exe\" -m 77");

    // The countdown and the grace period after the start both end it with 0.
    EXPECT_EQ(q.WaitForExit(45s), 0u);
    EXPECT_GT(Since(shown), 28.0);
    EXPECT_LT(Since(shown), 36.0);
    EXPECT_GE(CountProcesses(L"memcached.exe"), 1) << "the server goes on without Quarvel";
    EXPECT_EQ(ReadFileBytes(IniPath(q)), before) << "an unattended end saves nothing";
    EXPECT_FALSE(RunValue().has_value());
}

TEST_F(Settings, AutoStartTouchedWithinTheGracePeriodStaysOpen) {
    Quarvel q;
    q.AddRecordingServer();
    q.AddFile(L"Quarvel.ini", Utf16File(kAutoStartFile));
    const std::string before = ReadFileBytes(IniPath(q));
    ASSERT_TRUE(q.Start());
    const auto shown = Clock::now();
    ASSERT_TRUE(WaitUntil([&] { return q.Checked(); }, 5s));
    ASSERT_TRUE(WaitUntil([&] { return !ReadServerStarts(q.folder()).empty(); }, 10s));

    q.Click(Ctl::透明标签4);
    ASSERT_TRUE(q.WaitForText(Ctl::透明标签4, kCancelled, 5s));
    ASSERT_LT(Since(shown), 25.0) << "too slow to touch it in time";

    EXPECT_EQ(q.WaitForExit(std::chrono::milliseconds(static_cast<long long>((33.0 - Since(shown)) * 1000))),
              STILL_ACTIVE)
        << "ended after " << Since(shown) << " s";
    EXPECT_TRUE(q.Running());
    EXPECT_TRUE(q.Checked());
    EXPECT_EQ(ReadServerStarts(q.folder()).size(), 1u);
    EXPECT_EQ(ReadFileBytes(IniPath(q)), before);
}

}  // namespace
