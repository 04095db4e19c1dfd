// Conversions between the system's ANSI code page, UTF-16 and UTF-8.
#pragma once

#include <string>

namespace qardex::control {

std::wstring AnsiToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

}  // namespace qardex::control
