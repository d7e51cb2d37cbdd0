// The settings file and the Run value, through Quarvel's own routines in this
// process: the file is the one beside this test program, and the window is built
// here whenever a routine reads or fills its controls.
#include "app/countdown.h"
#include "app/program.h"
#include "app/window.h"
#include "driver/driver.h"
#include "settings/settings.h"
#include "util/delay.h"
#include "util/handle.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <atomic>
#include <iostream>
#include <set>
#include <thread>

using namespace driver;

namespace {

constexpr wchar_t kRunKey[] = L"software\\microsoft\\windows\\CurrentVersion\\Run";
constexpr wchar_t kFlagKey[] = L"开机自动运行";

std::string Utf16File(const std::wstring& text) {
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    return bytes;
}

std::string Encode(UINT codePage, const std::wstring& text) {
    int size =
        ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                          nullptr);
    return bytes;
}

std::wstring Decode(UINT codePage, const std::string& bytes) {
    int size = ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
    return text;
}

std::wstring Utf16Text(const std::string& bytes) {
    if (bytes.size() < 2) return {};
    std::wstring text((bytes.size() - 2) / sizeof(wchar_t), L'\0');
    memcpy(text.data(), bytes.data() + 2, text.size() * sizeof(wchar_t));
    return text;
}

struct RunEntry {
    bool value = false;
    DWORD type = 0;
    DWORD bytes = 0;
    std::wstring data;
    bool subkey = false;
};

RunEntry ReadRunEntry() {
    RunEntry entry;
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_READ | KEY_WOW64_64KEY, &opened) != ERROR_SUCCESS)
        return entry;
    UniqueRegKey run(opened);
    std::vector<BYTE> data(65536);
    DWORD size = static_cast<DWORD>(data.size());
    if (::RegQueryValueExW(run.get(), L"Quarvel", nullptr, &entry.type, data.data(), &size) == ERROR_SUCCESS) {
        entry.value = true;
        entry.bytes = size;
        entry.data.assign(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
        if (!entry.data.empty() && entry.data.back() == L'\0') entry.data.pop_back();
    }
    HKEY sub = nullptr;
    if (::RegOpenKeyExW(run.get(), L"Quarvel", 0, KEY_READ | KEY_WOW64_64KEY, &sub) == ERROR_SUCCESS) {
        entry.subkey = true;
        ::RegCloseKey(sub);
    }
    return entry;
}

void RemoveRunEntry() {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &opened) != ERROR_SUCCESS)
        return;
    UniqueRegKey run(opened);
    ::RegDeleteValueW(run.get(), L"Quarvel");
    ::RegDeleteTreeW(run.get(), L"Quarvel");
}

std::set<DWORD> OwnThreads() {
    std::set<DWORD> ids;
    UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry))
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
    return ids;
}

std::wstring ExpectedRunData() {
    std::wstring path = BinDirectory() + L"\\unit_tests.exe";
    return path.find(L' ') == std::wstring::npos ? path : L"\"" + path + L"\"";
}

// ---- Reading one key -----------------------------------------------------------

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        InitialiseProgram(::GetModuleHandleW(nullptr));
        file = ConfigFilePath();
        Remove();
    }
    void TearDown() override { Remove(); }
    void Remove() const {
        ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(file.c_str());
    }
    std::wstring file;
};

TEST_F(SettingsFile, LivesBesideTheProgram) { EXPECT_EQ(file, BinDirectory() + L"\\Quarvel.ini"); }

TEST_F(SettingsFile, NamesLoseLeadingBlanksAndABlankNameReadsNothing) {
    WriteTextFile(file, Utf16File(L"[Quarvel]\r\nmemcached 最大的缓存配置=77\r\n"));
    struct Case {
        std::wstring file, section, key, defaultText, expected;
    };
    const std::wstring key = kCacheKey;
    const Case cases[] = {
        {file, L"Quarvel", key, L"d", L"77"},
        {L" \t" + file, L"\x01\x1f Quarvel", L"\r\n " + key, L"d", L"77"},
        {file, L"Quarvel", L"no such key", L"d", L"d"},
        {file, L"Quarvel", L"no such key", L"", L""},
        {file, L"!Quarvel", key, L"d", L"d"},  // '!' (33) is no blank: another section
        {file, L" \t\x01", key, L"d", L""},
        {file, L"Quarvel", L"\x1f\x20", L"d", L""},
        {L"   ", L"Quarvel", key, L"d", L""},
        {L"", L"Quarvel", key, L"d", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.file + L" | " + c.section + L" | " + c.key));
        EXPECT_EQ(ReadConfigText(c.file, c.section, c.key, c.defaultText), c.expected);
    }
}

// ---- With the window built in this process ---------------------------------------

class SettingsWithWindow : public SettingsFile {
protected:
    void SetUp() override {
        SettingsFile::SetUp();
        RemoveRunEntry();
        std::set<DWORD> before = OwnThreads();
        ASSERT_NE(CreateMainWindow(::GetModuleHandleW(nullptr)), nullptr);
        // The countdown and the auto-start's grace period would end this program.
        SetTimerPeriod(Ctl::时钟1, 0);
        autoCloseArmed = 0;
        // A start-up worker, there when a file asks for the unattended start, works
        // through this thread's messages; it has to be done before a test begins.
        for (DWORD id : OwnThreads()) {
            if (before.count(id)) continue;
            UniqueHandle thread(::OpenThread(SYNCHRONIZE, FALSE, id));
            if (thread) WaitWithEvents(thread.get(), 10000);
        }
        ASSERT_EQ(GetEditText(Ctl::编辑框1), L"256");
    }
    void TearDown() override {
        if (HWND window = MainWindow()) ::DestroyWindow(window);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        RemoveRunEntry();
        SettingsFile::TearDown();
    }
    // What the next start shows, read on this thread.
    void Load() {
        SetEditText(Ctl::编辑框1, L"<not loaded>");
        SetCheckState(Ctl::选择框1, 0);
        auto start = Clock::now();
        LoadSettingsAndAutoStart();
        loadSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    }
    double loadSeconds = 0;
};

TEST_F(SettingsWithWindow, AutoRunIsOnOnlyForExactlyOne) {
    struct Case {
        const wchar_t* line;  // as written in the file; blanks kept inside quotes
        const wchar_t* flagText;
    };
    const Case cases[] = {
        {L"开机自动运行=0", L"0"},       {L"开机自动运行=yes", L"yes"}, {L"开机自动运行=\" 1\"", L" 1"},
        {L"开机自动运行=\"1 \"", L"1 "}, {L"开机自动运行=11", L"11"},   {L"开机自动运行=１", L"１"},
        {L"开机自动运行=", L""},         {L"", L"<missing>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.line)));
        WriteTextFile(file,
                      Utf16File(L"[Quarvel]\r\nmemcached 最大的缓存配置=88\r\n" + std::wstring(c.line) + L"\r\n"));
        ASSERT_EQ(ProfileText(file, kFlagKey), c.flagText) << "the file does not hold what this case is about";
        Load();
        EXPECT_EQ(GetEditText(Ctl::编辑框1), L"88");
        EXPECT_EQ(GetCheckState(Ctl::选择框1), 0);
        EXPECT_LT(loadSeconds, 5.0) << "an auto-start was begun";
    }
}

TEST_F(SettingsWithWindow, DamagedFileOrNoSectionGivesTheDefaults) {
    std::string garbage;
    unsigned seed = 12345;
    for (int i = 0; i < 4096; ++i) {
        seed = seed * 1103515245u + 12345u;
        garbage.push_back(static_cast<char>((seed >> 16) & 0xFF));
    }
    garbage[0] = '\x01';  // not a byte-order mark
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"binary garbage", garbage},
        {"garbage after a UTF-16 mark", "\xFF\xFE" + garbage},
        {"another section", Utf16File(L"[Other]\r\nmemcached 最大的缓存配置=77\r\n开机自动运行=1\r\n")},
        {"no section line", Utf16File(L"memcached 最大的缓存配置=77\r\n开机自动运行=1\r\n")},
        {"empty", ""},
        {"only the mark", "\xFF\xFE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteTextFile(file, c.bytes);
        EXPECT_EQ(ReadConfigText(file, L"Quarvel", kCacheKey, L"256"), L"256");
        Load();
        EXPECT_EQ(GetEditText(Ctl::编辑框1), L"256");
        EXPECT_EQ(GetCheckState(Ctl::选择框1), 0);
        EXPECT_LT(loadSeconds, 5.0) << "an auto-start was begun";
    }
}

TEST_F(SettingsWithWindow, LongCacheTextIsStoredWholeAndReadBackUpToTheBuffer) {
    for (size_t length : {size_t{5000}, size_t{10239}, size_t{10240}, size_t{12000}}) {
        SCOPED_TRACE(length);
        std::wstring text;
        for (size_t i = 0; i < length; ++i) text.push_back(static_cast<wchar_t>(L'0' + i % 10));
        const std::wstring readBack = text.substr(0, 10239);

        SetEditText(Ctl::编辑框1, text);
        ASSERT_EQ(GetEditText(Ctl::编辑框1), text);
        SaveSettings();
        EXPECT_NE(Utf16Text(ReadFileBytes(file)).find(L"=" + text + L"\r\n"), std::wstring::npos)
            << "the file holds the whole text";
        EXPECT_EQ(ReadConfigText(file, L"Quarvel", kCacheKey, L"256"), readBack);
        Load();
        EXPECT_EQ(GetEditText(Ctl::编辑框1), readBack);
    }
}

TEST_F(SettingsWithWindow, FirstSaveCreatesAUtf16FileThatKeepsEveryText) {
    // Neither the Western nor the Chinese code page holds all of these.
    const std::wstring text = L"64 兆 ğ Ω \U0001F600";
    SetEditText(Ctl::编辑框1, text);
    SaveSettings();
    std::string bytes = ReadFileBytes(file);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    std::wstring content = Utf16Text(bytes);
    EXPECT_NE(content.find(L"[Quarvel]"), std::wstring::npos);
    EXPECT_NE(content.find(L"memcached 最大的缓存配置=" + text), std::wstring::npos);
    EXPECT_NE(content.find(L"开机自动运行=0"), std::wstring::npos);
    EXPECT_EQ(ReadConfigText(file, L"Quarvel", kCacheKey), text);
}

TEST_F(SettingsWithWindow, CheckedBoxWritesTheRunValueAndUncheckedRemovesIt) {
    SetEditText(Ctl::编辑框1, L"64");
    SetCheckState(Ctl::选择框1, 1);
    SaveSettings();
    RunEntry entry = ReadRunEntry();
    ASSERT_TRUE(entry.value);
    EXPECT_EQ(entry.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(entry.data, ExpectedRunData());
    EXPECT_EQ(entry.bytes, (ExpectedRunData().size() + 1) * sizeof(wchar_t)) << "the terminating zero is stored";
    EXPECT_EQ(ProfileText(file, kFlagKey), L"1");
    EXPECT_EQ(ProfileText(file, kCacheKey), L"64");

    // Saving again rewrites a value changed behind Quarvel's back.
    RemoveRunEntry();
    SaveSettings();
    EXPECT_EQ(ReadRunEntry().data, ExpectedRunData());

    SetCheckState(Ctl::选择框1, 0);
    SaveSettings();
    EXPECT_FALSE(ReadRunEntry().value);
    EXPECT_EQ(ProfileText(file, kFlagKey), L"0");
}

TEST_F(SettingsWithWindow, UncheckingRemovesASubkeyOfThatNameOnlyWhenThereIsNoValue) {
    struct Case {
        bool value, subkey;
        bool subkeyAfter;
    };
    const Case cases[] = {{true, false, false}, {false, true, false}, {true, true, true}, {false, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "value " << c.value << ", subkey " << c.subkey);
        HKEY opened = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                                    nullptr, &opened, nullptr),
                  ERROR_SUCCESS);
        UniqueRegKey run(opened);
        if (c.value) {
            const wchar_t data[] = L"C:\\elsewhere\\Quarvel.exe";
            ::RegSetValueExW(run.get(), L"Quarvel", 0, REG_SZ, reinterpret_cast<const BYTE*>(data), sizeof(data));
        }
        if (c.subkey) {
            HKEY sub = nullptr;
            ::RegCreateKeyExW(run.get(), L"Quarvel", 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &sub,
                              nullptr);
            ::RegCloseKey(sub);
        }
        SaveSettings();
        RunEntry entry = ReadRunEntry();
        EXPECT_FALSE(entry.value);
        EXPECT_EQ(entry.subkey, c.subkeyAfter);
        EXPECT_EQ(ProfileText(file, kFlagKey), L"0");
        RemoveRunEntry();
    }
}

// What a user sees of a message box of this process with Quarvel's caption.
struct SeenBox {
    bool seen = false;
    std::wstring text;
    bool errorIcon = false;
    int buttons = 0;
};

BOOL CALLBACK CountChild(HWND child, LPARAM context) {
    auto* box = reinterpret_cast<SeenBox*>(context);
    wchar_t className[32] = {};
    ::GetClassNameW(child, className, 32);
    if (!::IsWindowVisible(child)) return TRUE;
    if (::lstrcmpiW(className, L"Button") == 0) ++box->buttons;
    if (::lstrcmpiW(className, L"Static") == 0 &&
        reinterpret_cast<HICON>(::SendMessageW(child, STM_GETICON, 0, 0)) == ::LoadIconW(nullptr, IDI_ERROR))
        box->errorIcon = true;
    return TRUE;
}

HWND FindQuarvelBox() {
    for (HWND box = nullptr; (box = ::FindWindowExW(nullptr, box, L"#32770", L"信息：")) != nullptr;) {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(box, &owner);
        if (owner == ::GetCurrentProcessId() && ::IsWindowVisible(box)) return box;
    }
    return nullptr;
}

// Watches from another thread for the box, reads it and presses its button.
class BoxWatcher {
public:
    BoxWatcher()
        : thread_([this] {
              HWND box = nullptr;
              if (!WaitUntil([&] { return (box = FindQuarvelBox()) != nullptr || stop_; }, 15s) || !box) return;
              seen_.seen = true;
              wchar_t text[256] = {};
              ::GetDlgItemTextW(box, 0xFFFF, text, 256);
              seen_.text = text;
              ::EnumChildWindows(box, CountChild, reinterpret_cast<LPARAM>(&seen_));
              HWND ok = ::GetDlgItem(box, IDOK);
              if (ok) ::SendMessageW(ok, BM_CLICK, 0, 0);
              if (!WaitUntil([&] { return !::IsWindow(box); }, 3s)) ::PostMessageW(box, WM_COMMAND, IDOK, 0);
          }) {}
    SeenBox Finish() {
        stop_ = true;
        thread_.join();
        return seen_;
    }

private:
    std::atomic<bool> stop_{false};
    SeenBox seen_;
    std::thread thread_;
};

TEST_F(SettingsWithWindow, RunValueThatCannotBeWrittenIsReportedAndTheFlagKept) {
    WriteTextFile(file, Utf16File(L"[Quarvel]\r\nmemcached 最大的缓存配置=64\r\n开机自动运行=0\r\n"));
    SetEditText(Ctl::编辑框1, L"128");
    SetCheckState(Ctl::选择框1, 1);
    {
        // HKEY_LOCAL_MACHINE of this process becomes a key deleted while still open:
        // every open or create beneath it fails. A key that is merely read-only does
        // not do here, as Wine lets an administrator create beneath any key.
        HKEY standIn = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\QuarvelTestMachine", 0, nullptr, REG_OPTION_VOLATILE,
                                    KEY_READ, nullptr, &standIn, nullptr),
                  ERROR_SUCCESS);
        UniqueRegKey machine(standIn);
        ASSERT_EQ(::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\QuarvelTestMachine"), ERROR_SUCCESS);
        ASSERT_EQ(::RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine.get()), ERROR_SUCCESS);
        BoxWatcher watcher;
        SaveSettings();
        SeenBox box = watcher.Finish();
        ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);

        EXPECT_TRUE(box.seen) << "no message box with the caption 信息：";
        EXPECT_EQ(box.text, L"创建开机启动项失败,请手动创建!");
        EXPECT_TRUE(box.errorIcon);
        EXPECT_EQ(box.buttons, 1) << "OK alone";
    }
    EXPECT_EQ(ProfileText(file, kFlagKey), L"0") << "the flag must not claim a start that will not happen";
    EXPECT_EQ(ProfileText(file, kCacheKey), L"128") << "the cache size is saved before the Run value";
    EXPECT_EQ(GetCheckState(Ctl::选择框1), 1);
    EXPECT_FALSE(ReadRunEntry().value);
}

// ---- Code pages --------------------------------------------------------------------

const wchar_t kOldFile[] = L"[Quarvel]\r\nmemcached 最大的缓存配置=77\r\n开机自动运行=0\r\n";

// Runs under the default locale and again under a Chinese one.
TEST_F(SettingsFile, Utf16FileReadsTheSameUnderAnyCodePage) {
    const std::wstring text = L"64 兆 ğ Ω \U0001F600";
    WriteTextFile(file, Utf16File(L"[Quarvel]\r\nmemcached 最大的缓存配置=" + text + L"\r\n开机自动运行=1\r\n"));
    std::cout << "system code page " << ::GetACP() << "\n";
    EXPECT_EQ(ReadConfigText(file, L"Quarvel", kCacheKey), text);
    EXPECT_EQ(ReadConfigText(file, L"Quarvel", kFlagKey), L"1");
}

// Runs under a Chinese locale only: older versions wrote the file in the system code
// page, which there is 936.
class SettingsChineseCodePage : public SettingsWithWindow {};

TEST_F(SettingsChineseCodePage, OlderFileIsReadAndUpdatedInItsOwnCodePage) {
    ASSERT_EQ(::GetACP(), 936u) << "this test needs the Chinese locale";
    // The fixture's window was built with no file; write the old one now.
    const std::string old = Encode(936, kOldFile);
    WriteTextFile(file, old);
    EXPECT_EQ(ReadConfigText(file, L"Quarvel", kCacheKey, L"256"), L"77");
    Load();
    EXPECT_EQ(GetEditText(Ctl::编辑框1), L"77");

    SetEditText(Ctl::编辑框1, L"99");
    SaveSettings();
    std::string bytes = ReadFileBytes(file);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes[0], '[') << "no byte-order mark was put in front of an existing file";
    EXPECT_NE(bytes.find(Encode(936, L"memcached 最大的缓存配置=99")), std::string::npos);
    EXPECT_NE(bytes.find(Encode(936, L"开机自动运行=0")), std::string::npos);
    EXPECT_EQ(Decode(936, bytes), L"[Quarvel]\r\nmemcached 最大的缓存配置=99\r\n开机自动运行=0\r\n");
    EXPECT_EQ(ReadConfigText(file, L"Quarvel", kCacheKey), L"99");
}

}  // namespace
