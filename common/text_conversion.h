// Conversions between the system's ANSI code page, UTF-16 and UTF-8: the library's only text
// conversion unit. Text that does not convert becomes what the system substitutes; an empty
// or unconvertible text gives an empty result.
#pragma once

#include <string>

namespace qardex::common {

std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);

}  // namespace qardex::common
