// PKCS #5 padding to whole 8-byte blocks and its removal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "crypto/block_size.h"

namespace qardex::crypto {

// 1 to 8 bytes are always added, so a padded length is never 0.
constexpr std::size_t PaddedLength(std::size_t length) {
  return (length / kDesBlockSize + 1) * kDesBlockSize;
}

// Copies `length` bytes of `source` to `destination` followed by n = 8 - length % 8 bytes of
// value n and returns the padded length; `source` and `destination` may be the same buffer.
// Returns nullopt (writing nothing) when the padded message does not fit `capacity`.
std::optional<std::size_t> pad_block8(const std::uint8_t* source, std::size_t length,
                                      std::uint8_t* destination, std::size_t capacity);

// The server session's rule: only the last byte is read. A value above 8, or above the length,
// is invalid and gives 0; a value of 0 leaves the length as it is; otherwise the length drops
// by that value and a zero byte is written where the padding began, ending the text there.
std::size_t unpad_block8(std::uint8_t* buffer, std::size_t length);

// The strict check for deciphering our own output: the length is a non-zero multiple of 8 and
// the last n bytes (1 <= n <= 8) all hold n. Returns the unpadded length or nullopt.
std::optional<std::size_t> CheckedUnpadLength(const std::uint8_t* buffer, std::size_t length);

}  // namespace qardex::crypto
