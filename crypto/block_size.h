// The DES block size shared by the cipher, the padding and the spread blocks.
#pragma once

#include <cstddef>

namespace qardex::crypto {

inline constexpr std::size_t kDesBlockSize = 8;

}  // namespace qardex::crypto
