// Spread blocks: seven data bytes and one random filler byte per 8-byte block, so that the
// same data enciphers differently from call to call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "crypto/block_size.h"

namespace qardex::crypto {

inline constexpr std::size_t kSpreadDataBytes = kDesBlockSize - 1;
// Fillers are draws modulo 99, so 0 to 98.
inline constexpr int kFillerModulus = 99;

// The next value of the caller's pseudo-random generator (0 to 32767 for the control's).
using RandomDraw = std::function<int()>;

constexpr std::size_t SpreadBlockCount(std::size_t length) {
  return length / kSpreadDataBytes + (length % kSpreadDataBytes != 0 ? 1 : 0);
}
constexpr std::size_t SpreadLength(std::size_t length) {
  return SpreadBlockCount(length) * kDesBlockSize;
}

// Block k receives input bytes 7k to 7k+6 (0x00 past the end of the input) and a filler: a
// draw modulo 99, drawn once more when that is 0 and then kept whatever it is. Returns
// 8 * ceil(length / 7), or nullopt (writing nothing) when that exceeds `capacity`.
std::optional<std::size_t> SpreadBlocks(const std::uint8_t* input, std::size_t length,
                                        std::uint8_t* output, std::size_t capacity,
                                        const RandomDraw& draw);

// The inverse: keeps the seven data bytes of every block and drops the fillers. Returns
// 7 * (length / 8), or nullopt when `length` is not a multiple of 8 or `capacity` is too small.
std::optional<std::size_t> GatherBlocks(const std::uint8_t* blocks, std::size_t length,
                                        std::uint8_t* output, std::size_t capacity);

// Whether every filler byte (each eighth byte) is one a spread could have produced.
bool FillersInRange(const std::uint8_t* blocks, std::size_t length);

}  // namespace qardex::crypto
