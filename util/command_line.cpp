#include "util/command_line.h"

std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;

    // Backslashes are literal except in a run that ends at a quote: such a run is
    // doubled, and the quote itself escaped, so that both come back as written.
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');  // they now precede the closing quote
    quoted.push_back(L'"');
    return quoted;
}

std::wstring BuildCommandLine(const std::vector<std::wstring>& arguments) {
    std::wstring line;
    for (const std::wstring& argument : arguments) {
        if (!line.empty()) line.push_back(L' ');
        line += QuoteArgument(argument);
    }
    return line;
}
