// The administrator's pin list for the authentication server's key: which keys may be used.
#pragma once

#include <string>
#include <vector>

namespace qardex::cloud {

// Hex digits of a SHA-256 digest.
inline constexpr std::size_t kPinDigits = 64;

// True when `pins` is empty (no list: any key), or when one of its entries is 64 hex digits of
// either case equal to `keyDigest` (blanks around an entry are allowed). Other entries match
// nothing, so a list of only malformed entries refuses every key.
bool ServerKeyPinned(const std::vector<std::string>& pins, const std::string& keyDigest);

}  // namespace qardex::cloud
