#include "crypto/hex_text.h"

#include <utility>

namespace qardex::crypto {

namespace {

constexpr char kUpperDigits[] = "0123456789ABCDEF";
constexpr char kLowerDigits[] = "0123456789abcdef";

int DigitValue(char digit) {
  if (digit >= '0' && digit <= '9') return digit - '0';
  if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
  if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
  return -1;
}

}  // namespace

std::optional<std::size_t> HexUpper(const std::uint8_t* bytes, std::size_t count, char* output,
                                    std::size_t capacity) {
  if (count > capacity / 2) return std::nullopt;
  if (count > 0 && (bytes == nullptr || output == nullptr)) return std::nullopt;
  for (std::size_t i = 0; i < count; ++i) {
    output[2 * i] = kUpperDigits[bytes[i] >> 4];
    output[2 * i + 1] = kUpperDigits[bytes[i] & 0x0F];
  }
  return 2 * count;
}

std::string HexUpper(const std::uint8_t* bytes, std::size_t count) {
  std::string text(2 * count, '\0');
  if (!HexUpper(bytes, count, text.data(), text.size())) return {};
  return text;
}

std::string HexLower(const std::uint8_t* bytes, std::size_t count) {
  std::string text;
  text.reserve(2 * count);
  for (std::size_t i = 0; i < count; ++i) {
    text.push_back(kLowerDigits[bytes[i] >> 4]);
    text.push_back(kLowerDigits[bytes[i] & 0x0F]);
  }
  return text;
}

HexParseStatus ParseHex(std::string_view text, std::vector<std::uint8_t>* bytes) {
  if (text.size() % 2 != 0) return HexParseStatus::kOddLength;
  std::vector<std::uint8_t> parsed(text.size() / 2);
  for (std::size_t i = 0; i < parsed.size(); ++i) {
    const int high = DigitValue(text[2 * i]);
    const int low = DigitValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return HexParseStatus::kNotHexDigit;
    parsed[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  if (bytes != nullptr) *bytes = std::move(parsed);
  return HexParseStatus::kOk;
}

}  // namespace qardex::crypto
