#include "crypto/block_padding.h"

#include <cstring>

namespace qardex::crypto {

std::optional<std::size_t> pad_block8(const std::uint8_t* source, std::size_t length,
                                      std::uint8_t* destination, std::size_t capacity) {
  const std::size_t padded = PaddedLength(length);
  if (padded <= length || padded > capacity || destination == nullptr) return std::nullopt;
  if (length > 0) {
    if (source == nullptr) return std::nullopt;
    std::memmove(destination, source, length);
  }
  const std::size_t padCount = padded - length;
  std::memset(destination + length, static_cast<int>(padCount), padCount);
  return padded;
}

std::size_t unpad_block8(std::uint8_t* buffer, std::size_t length) {
  if (buffer == nullptr || length == 0) return 0;
  const std::size_t padCount = buffer[length - 1];
  if (padCount > kDesBlockSize || padCount > length) return 0;
  if (padCount == 0) return length;
  buffer[length - padCount] = 0;
  return length - padCount;
}

std::optional<std::size_t> CheckedUnpadLength(const std::uint8_t* buffer, std::size_t length) {
  if (buffer == nullptr || length == 0 || length % kDesBlockSize != 0) return std::nullopt;
  const std::size_t padCount = buffer[length - 1];
  if (padCount == 0 || padCount > kDesBlockSize) return std::nullopt;
  for (std::size_t i = length - padCount; i < length; ++i) {
    if (buffer[i] != padCount) return std::nullopt;
  }
  return length - padCount;
}

}  // namespace qardex::crypto
