// Command lines that CommandLineToArgvW (and the C runtime) read back exactly as
// they were meant: an argument is quoted only when it needs to be.
#pragma once

#include <string>
#include <vector>

std::wstring QuoteArgument(const std::wstring& argument);
std::wstring BuildCommandLine(const std::vector<std::wstring>& arguments);
