#include "crypto/spread_blocks.h"

#include <algorithm>
#include <cstring>

namespace qardex::crypto {

namespace {

std::uint8_t DrawFiller(const RandomDraw& draw) {
  // Normalised so that a generator returning negative values still gives 0 to 98.
  const auto reduce = [](int value) {
    return (value % kFillerModulus + kFillerModulus) % kFillerModulus;
  };
  int filler = reduce(draw());
  if (filler == 0) filler = reduce(draw());
  return static_cast<std::uint8_t>(filler);
}

}  // namespace

std::optional<std::size_t> SpreadBlocks(const std::uint8_t* input, std::size_t length,
                                        std::uint8_t* output, std::size_t capacity,
                                        const RandomDraw& draw) {
  const std::size_t blocks = SpreadBlockCount(length);
  if (blocks > capacity / kDesBlockSize) return std::nullopt;
  if (blocks > 0 && (input == nullptr || output == nullptr || !draw)) return std::nullopt;
  for (std::size_t k = 0; k < blocks; ++k) {
    std::uint8_t* block = output + k * kDesBlockSize;
    const std::size_t start = k * kSpreadDataBytes;
    const std::size_t take = std::min(kSpreadDataBytes, length - start);
    std::memcpy(block, input + start, take);
    std::memset(block + take, 0, kSpreadDataBytes - take);
    block[kSpreadDataBytes] = DrawFiller(draw);
  }
  return blocks * kDesBlockSize;
}

std::optional<std::size_t> GatherBlocks(const std::uint8_t* blocks, std::size_t length,
                                        std::uint8_t* output, std::size_t capacity) {
  if (length % kDesBlockSize != 0) return std::nullopt;
  const std::size_t count = length / kDesBlockSize;
  if (count > capacity / kSpreadDataBytes) return std::nullopt;
  if (count > 0 && (blocks == nullptr || output == nullptr)) return std::nullopt;
  for (std::size_t k = 0; k < count; ++k) {
    std::memcpy(output + k * kSpreadDataBytes, blocks + k * kDesBlockSize, kSpreadDataBytes);
  }
  return count * kSpreadDataBytes;
}

bool FillersInRange(const std::uint8_t* blocks, std::size_t length) {
  if (blocks == nullptr) return length < kDesBlockSize;
  for (std::size_t i = kSpreadDataBytes; i < length; i += kDesBlockSize) {
    if (blocks[i] >= kFillerModulus) return false;
  }
  return true;
}

}  // namespace qardex::crypto
