// The two enciphered results handed to the page, and their inverses for our tooling.
//
// Secure basic data: the BasicText bytes, spread, enciphered under the DateKey, as hex.
// Page string: the string's ANSI bytes, padded, enciphered under the CardKey, spread,
// enciphered under the FixedKey, as hex.
#pragma once

#include <string>
#include <string_view>

#include "crypto/spread_blocks.h"
#include "crypto/tdea.h"

namespace qardex::crypto {

// Uses the bytes of `basicText` up to its first NUL: 8 * ceil(n / 7) enciphered bytes, so
// 16 * ceil(n / 7) hex digits (128 for the longest BasicText of 56 bytes).
std::string EncipherBasicText(std::string_view basicText, const TdeaKey& dateKey,
                              const RandomDraw& draw);

// `ansiText` is taken whole (6 to 24 bytes for a page string of 6 to 12 characters); P bytes
// after padding give 16 * ceil(P / 7) hex digits: 32, 48, 64 or 80.
std::string EncipherPageString(std::string_view ansiText, const TdeaKey& cardKey,
                               const RandomDraw& draw);

enum class DecipherError {
  kNone,
  kOddLength,
  kNotHexDigit,
  kBlockCount,  // not a number of blocks the encipherer produces
  kFiller,      // a filler byte above 98
  kSpreadTail,  // non-zero bytes where the last spread block is filled with zeros
  kPadding,
};

// A short English description for messages.
const char* DescribeDecipherError(DecipherError error);

struct Deciphered {
  DecipherError error = DecipherError::kNone;
  std::string bytes;
  bool ok() const { return error == DecipherError::kNone; }
};

// BasicText again, without the zero bytes that filled its last block.
Deciphered DecipherBasicText(std::string_view hex, const TdeaKey& dateKey);

// The page string's ANSI bytes again.
Deciphered DecipherPageString(std::string_view hex, const TdeaKey& cardKey);

}  // namespace qardex::crypto
