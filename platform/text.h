// Text: the ANSI code page of the POSIX layer is UTF-8; wide text is UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::u16string AnsiToWide(std::string_view text);   // MultiByteToWideChar(CP_ACP)
std::string WideToAnsi(std::u16string_view text);   // WideCharToMultiByte(CP_ACP)
std::string ToUpperAnsi(std::string_view text);     // CharUpperA: ASCII letters
std::string ToLowerAnsi(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool EndsWithNoCase(std::string_view text, std::string_view suffix);

}  // namespace platform
