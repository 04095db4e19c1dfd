// The message texts of the error codes (common/error_codes.h). The texts are
// Traditional Chinese stored as Big5 (code page 950) bytes; like every result
// text they reach the page through the system's ANSI code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace qardex::engine {

// The text for any value that is not a code made of one to five digits.
extern const char kParameterErrorText[];

// The catalogue's own text for a code, or nothing (the system's text applies).
const char* CatalogueText(std::int32_t code);

// Reads a code argument: `wideLength` is its length in UTF-16 units and
// `narrow` its ANSI-code-page form. More than five units or any byte other
// than an ASCII digit is refused; "" reads as 0; leading zeros are allowed.
std::optional<std::int32_t> ParseCodeArgument(std::size_t wideLength, const std::string& narrow);

// Message texts never exceed this many bytes.
inline constexpr std::size_t kMessageLimit = 256;

// The text for an accepted code: the catalogue's, else what `systemText`
// gives, cut to 256 bytes.
template <typename SystemText>
std::string MessageForCode(std::int32_t code, SystemText&& systemText) {
  if (const char* text = CatalogueText(code)) return text;
  std::string text = systemText(code);
  if (text.size() > kMessageLimit) text.resize(kMessageLimit);
  return text;
}

}  // namespace qardex::engine
