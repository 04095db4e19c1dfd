// Conversions between the system's ANSI code page, UTF-16 and UTF-8: the library's only text
// conversion unit. Text that does not convert becomes what the system substitutes; an empty
// or unconvertible text gives an empty result.
#pragma once

#include <string>
#include <string_view>

namespace qardex::common {

std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);

// `text` with its ASCII capitals in lower case, every other byte as it is.
inline std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

}  // namespace qardex::common
