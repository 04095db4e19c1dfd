#include "cloud/server_key_pins.h"

#include <cctype>
#include <string_view>

namespace qardex::cloud {

namespace {

std::string_view Trimmed(std::string_view text) {
  const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameDigest(std::string_view entry, std::string_view digest) {
  if (entry.size() != kPinDigits || digest.size() != kPinDigits) return false;
  for (std::size_t i = 0; i < kPinDigits; ++i) {
    const auto a = static_cast<unsigned char>(entry[i]);
    const auto b = static_cast<unsigned char>(digest[i]);
    if (!std::isxdigit(a) || std::tolower(a) != std::tolower(b)) return false;
  }
  return true;
}

}  // namespace

bool ServerKeyPinned(const std::vector<std::string>& pins, const std::string& keyDigest) {
  if (pins.empty()) return true;
  for (const std::string& pin : pins) {
    if (SameDigest(Trimmed(pin), keyDigest)) return true;
  }
  return false;
}

}  // namespace qardex::cloud
