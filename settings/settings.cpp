#include "settings/settings.h"

#include "app/countdown.h"
#include "app/program.h"
#include "app/window.h"
#include "server/server.h"
#include "util/command_line.h"
#include "util/delay.h"
#include "util/handle.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <vector>

namespace {

constexpr wchar_t kSection[] = L"Quarvel";
constexpr wchar_t kCacheSizeKey[] = L"memcached 最大的缓存配置";
constexpr wchar_t kAutoRunKey[] = L"开机自动运行";
constexpr wchar_t kDefaultCacheSize[] = L"256";
constexpr DWORD kReadBufferLength = 10240;

// After starting the server unattended, Quarvel stays this long for the user to
// take it over before it goes away.
constexpr int kAutoStartGraceSeconds = 30;

// The Run value named as one path; the part after the last backslash is the value.
constexpr wchar_t kRunValuePath[] = L"software\\microsoft\\windows\\CurrentVersion\\Run\\Quarvel";
// Windows reads the Run key of the 64-bit view at logon; a 32-bit build would
// otherwise land in the redirected copy that nothing reads.
constexpr REGSAM kRunKeyAccess = KEY_WRITE | KEY_WOW64_64KEY;

std::wstring WithoutLeadingBlanks(const std::wstring& text) {
    size_t start = 0;
    while (start < text.size() && text[start] >= 1 && text[start] <= 32) ++start;
    return text.substr(start);
}

// A file the profile functions create themselves is in the system code page, which
// cannot hold every text a user may type. One that starts as a bare UTF-16
// byte-order mark is kept in UTF-16 by every later write.
void CreateUnicodeFileIfMissing(const std::wstring& file) {
    UniqueFileHandle created(
        ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!created) return;  // it exists already, in whatever form, and is kept as it is
    static const BYTE kByteOrderMark[] = {0xFF, 0xFE};
    DWORD written = 0;
    ::WriteFile(created.get(), kByteOrderMark, sizeof(kByteOrderMark), &written, nullptr);
}

// Reading a value drops the blanks around it and one pair of quotes enclosing it,
// so a text that starts or ends with either is written inside one more pair of
// double quotes, which the reading takes off again.
std::wstring StoredValue(const std::wstring& text) {
    auto exposed = [](wchar_t c) { return c <= L' ' || c == L'"' || c == L'\'' || std::iswspace(c); };
    if (text.empty() || (!exposed(text.front()) && !exposed(text.back()))) return text;
    return L"\"" + text + L"\"";
}

// A file that cannot be written is not reported: the next start reads what it holds.
void WriteConfigText(const std::wstring& file, const wchar_t* key, const std::wstring& text) {
    CreateUnicodeFileIfMissing(file);
    ::WritePrivateProfileStringW(kSection, key, StoredValue(text).c_str(), file.c_str());
}

void SplitRunValuePath(std::wstring& keyPath, std::wstring& valueName) {
    const std::wstring path = kRunValuePath;
    size_t slash = path.rfind(L'\\');
    keyPath = path.substr(0, slash);
    valueName = path.substr(slash + 1);
}

// Windows runs each Run value as a command line, so a path with blanks must be
// quoted or it is cut at the first blank.
std::wstring RunValueData() { return QuoteArgument(RunDirectory() + L"\\" + ExecutableFileName()); }

bool WriteRunValue(const std::wstring& data) {
    std::wstring keyPath, valueName;
    SplitRunValuePath(keyPath, valueName);
    UniqueRegKey run;
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, kRunKeyAccess, &opened) == ERROR_SUCCESS) {
        run.reset(opened);
    } else {
        HKEY created = nullptr;
        if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kRunKeyAccess,
                              nullptr, &created, nullptr) != ERROR_SUCCESS)
            return false;
        run.reset(created);
    }
    const DWORD bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(run.get(), valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                            bytes) == ERROR_SUCCESS;
}

void DeleteRunValue() {
    std::wstring keyPath, valueName;
    SplitRunValuePath(keyPath, valueName);
    bool deleted = false;
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, kRunKeyAccess, &opened) == ERROR_SUCCESS) {
        UniqueRegKey run(opened);
        deleted = ::RegDeleteValueW(run.get(), valueName.c_str()) == ERROR_SUCCESS;
    }
    // Without such a value, an entry of that name may still be a subkey; that one
    // goes too. Nothing is left to do when neither is there.
    if (!deleted) ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kRunValuePath, KEY_WOW64_64KEY, 0);
}

}  // namespace

std::wstring ConfigFilePath() { return RunDirectory() + L"\\Quarvel.ini"; }

std::wstring ReadConfigText(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                            const std::wstring& defaultText) {
    const std::wstring fileName = WithoutLeadingBlanks(file);
    const std::wstring sectionName = WithoutLeadingBlanks(section);
    const std::wstring keyName = WithoutLeadingBlanks(key);
    if (fileName.empty() || sectionName.empty() || keyName.empty()) return {};
    std::vector<wchar_t> buffer(kReadBufferLength, L'\0');
    DWORD length = ::GetPrivateProfileStringW(sectionName.c_str(), keyName.c_str(), defaultText.c_str(), buffer.data(),
                                              kReadBufferLength, fileName.c_str());
    return std::wstring(buffer.data(), std::min<DWORD>(length, kReadBufferLength - 1));
}

bool LoadSettings() {
    const std::wstring file = ConfigFilePath();
    SetEditText(Ctl::编辑框1, ReadConfigText(file, kSection, kCacheSizeKey, kDefaultCacheSize));
    if (ReadConfigText(file, kSection, kAutoRunKey) != L"1") return false;
    SetCheckState(Ctl::选择框1, 1);
    return true;
}

void LoadSettingsAndAutoStart() {
    if (LoadSettings()) AutoStart();
}

void AutoStart() {
    StartOrRestartServer();
    DelayWithEvents(kAutoStartGraceSeconds, Seconds);
    // The user took the window over meanwhile: it stays. The server stays either way.
    if (autoCloseArmed == 1) EndProgram(0);
}

void SaveSettings() {
    const std::wstring file = ConfigFilePath();
    WriteConfigText(file, kCacheSizeKey, GetEditText(Ctl::编辑框1));
    const wchar_t* flag = L"0";
    if (GetCheckState(Ctl::选择框1) == 1) {
        if (!WriteRunValue(RunValueData())) {
            // The flag keeps its old text: it must not claim a start that Windows
            // will not make.
            ShowMessageBox(L"创建开机启动项失败,请手动创建!", MB_ICONERROR | MB_OK);
            return;
        }
        flag = L"1";
    } else {
        DeleteRunValue();
    }
    WriteConfigText(file, kAutoRunKey, flag);
}

void OnCacheSizeLostFocus() { SaveSettings(); }

void OnAutoRunBoxClicked() {
    CancelAutoClose();
    SaveSettings();
}
