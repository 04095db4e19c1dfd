// Conversions between wide text and narrow text in the system's ANSI code page.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qardex::setup {

// nullopt when a character has no form in the code page (nothing is replaced by look-alikes).
std::optional<std::string> ToNarrow(std::wstring_view wide);
std::wstring ToWide(std::string_view narrow);

}  // namespace qardex::setup
