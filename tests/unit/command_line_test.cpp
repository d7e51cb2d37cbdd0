#include "server/server.h"
#include "util/command_line.h"

#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

namespace {

std::vector<std::wstring> ParseBack(const std::wstring& line) {
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(line.c_str(), &count);
    std::vector<std::wstring> args(argv, argv + count);
    ::LocalFree(argv);
    return args;
}

TEST(CommandLine, EveryArgumentComesBackWhole) {
    const std::wstring cases[] = {
        L"128", L"", L" ", L"64 -l 0.0.0.0", L"say \"hi\"", L"\"", L"\\", L"a\\", L"a\\\\", L"C:\\dir with space\\",
        L"back\\\"slash", L"tab\there", L"中文 参数", L"trailing\\\\\"", L"-m",
    };
    for (const std::wstring& argument : cases) {
        SCOPED_TRACE(testing::PrintToString(argument));
        std::vector<std::wstring> parsed = ParseBack(BuildCommandLine({L"C:\\q\\memcached.exe", L"-m", argument}));
        ASSERT_EQ(parsed.size(), 3u);
        EXPECT_EQ(parsed[0], L"C:\\q\\memcached.exe");
        EXPECT_EQ(parsed[1], L"-m");
        EXPECT_EQ(parsed[2], argument);
    }
}

TEST(CommandLine, QuotesOnlyWhatNeedsIt) {
    EXPECT_EQ(QuoteArgument(L"128"), L"128");
    EXPECT_EQ(QuoteArgument(L"C:\\a\\b.exe"), L"C:\\a\\b.exe");
    EXPECT_EQ(QuoteArgument(L""), L"\"\"");
    EXPECT_EQ(QuoteArgument(L"a b"), L"\"a b\"");
    EXPECT_EQ(QuoteArgument(L"a\\ b\\"), L"\"a\\ b\\\\\"");
}

TEST(ServerCommandLine, IsThePlainLineForAPlainFolder) {
    EXPECT_EQ(ServerCommandLine(L"C:\\Quarvel", L"128"), L"C:\\Quarvel\\memcached.exe -m 128");
    EXPECT_EQ(ServerCommandLine(L"C:", L"256"), L"C:\\memcached.exe -m 256");
}

TEST(ServerCommandLine, KeepsTheFolderAndTheSizeWhole) {
    std::wstring line = ServerCommandLine(L"C:\\Program Files\\缓存", L"64 -l 0.0.0.0");
    std::vector<std::wstring> parsed = ParseBack(line);
    ASSERT_EQ(parsed.size(), 3u);
    EXPECT_EQ(parsed[0], L"C:\\Program Files\\缓存\\memcached.exe");
    EXPECT_EQ(parsed[2], L"64 -l 0.0.0.0");
    EXPECT_EQ(ServerPath(L"C:\\Program Files\\缓存"), L"C:\\Program Files\\缓存\\memcached.exe");
}

}  // namespace
