#include "crypto/des_core.h"

#include <cstddef>

namespace qardex::crypto::des {

namespace {

// Tables of FIPS 46-3; bit positions count from 1 at the most significant bit.
// clang-format off
constexpr std::array<std::uint8_t, 64> kInitialPermutation = {
    58, 50, 42, 34, 26, 18, 10, 2,
    60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6,
    64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17,  9, 1,
    59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5,
    63, 55, 47, 39, 31, 23, 15, 7};

constexpr std::array<std::uint8_t, 32> kRoundPermutation = {
    16,  7, 20, 21, 29, 12, 28, 17,
     1, 15, 23, 26,  5, 18, 31, 10,
     2,  8, 24, 14, 32, 27,  3,  9,
    19, 13, 30,  6, 22, 11,  4, 25};

constexpr std::array<std::uint8_t, 56> kPermutedChoice1 = {
    57, 49, 41, 33, 25, 17,  9,
     1, 58, 50, 42, 34, 26, 18,
    10,  2, 59, 51, 43, 35, 27,
    19, 11,  3, 60, 52, 44, 36,
    63, 55, 47, 39, 31, 23, 15,
     7, 62, 54, 46, 38, 30, 22,
    14,  6, 61, 53, 45, 37, 29,
    21, 13,  5, 28, 20, 12,  4};

constexpr std::array<std::uint8_t, 48> kPermutedChoice2 = {
    14, 17, 11, 24,  1,  5,
     3, 28, 15,  6, 21, 10,
    23, 19, 12,  4, 26,  8,
    16,  7, 27, 20, 13,  2,
    41, 52, 31, 37, 47, 55,
    30, 40, 51, 45, 33, 48,
    44, 49, 39, 56, 34, 53,
    46, 42, 50, 36, 29, 32};

constexpr std::array<std::uint8_t, 16> kKeyRotations = {1, 1, 2, 2, 2, 2, 2, 2,
                                                        1, 2, 2, 2, 2, 2, 2, 1};

// S1 to S8, each as four rows of sixteen columns.
constexpr std::uint8_t kSBoxes[8][64] = {
    {14,  4, 13,  1,  2, 15, 11,  8,  3, 10,  6, 12,  5,  9,  0,  7,
      0, 15,  7,  4, 14,  2, 13,  1, 10,  6, 12, 11,  9,  5,  3,  8,
      4,  1, 14,  8, 13,  6,  2, 11, 15, 12,  9,  7,  3, 10,  5,  0,
     15, 12,  8,  2,  4,  9,  1,  7,  5, 11,  3, 14, 10,  0,  6, 13},
    {15,  1,  8, 14,  6, 11,  3,  4,  9,  7,  2, 13, 12,  0,  5, 10,
      3, 13,  4,  7, 15,  2,  8, 14, 12,  0,  1, 10,  6,  9, 11,  5,
      0, 14,  7, 11, 10,  4, 13,  1,  5,  8, 12,  6,  9,  3,  2, 15,
     13,  8, 10,  1,  3, 15,  4,  2, 11,  6,  7, 12,  0,  5, 14,  9},
    {10,  0,  9, 14,  6,  3, 15,  5,  1, 13, 12,  7, 11,  4,  2,  8,
     13,  7,  0,  9,  3,  4,  6, 10,  2,  8,  5, 14, 12, 11, 15,  1,
     13,  6,  4,  9,  8, 15,  3,  0, 11,  1,  2, 12,  5, 10, 14,  7,
      1, 10, 13,  0,  6,  9,  8,  7,  4, 15, 14,  3, 11,  5,  2, 12},
    { 7, 13, 14,  3,  0,  6,  9, 10,  1,  2,  8,  5, 11, 12,  4, 15,
     13,  8, 11,  5,  6, 15,  0,  3,  4,  7,  2, 12,  1, 10, 14,  9,
     10,  6,  9,  0, 12, 11,  7, 13, 15,  1,  3, 14,  5,  2,  8,  4,
      3, 15,  0,  6, 10,  1, 13,  8,  9,  4,  5, 11, 12,  7,  2, 14},
    { 2, 12,  4,  1,  7, 10, 11,  6,  8,  5,  3, 15, 13,  0, 14,  9,
     14, 11,  2, 12,  4,  7, 13,  1,  5,  0, 15, 10,  3,  9,  8,  6,
      4,  2,  1, 11, 10, 13,  7,  8, 15,  9, 12,  5,  6,  3,  0, 14,
     11,  8, 12,  7,  1, 14,  2, 13,  6, 15,  0,  9, 10,  4,  5,  3},
    {12,  1, 10, 15,  9,  2,  6,  8,  0, 13,  3,  4, 14,  7,  5, 11,
     10, 15,  4,  2,  7, 12,  9,  5,  6,  1, 13, 14,  0, 11,  3,  8,
      9, 14, 15,  5,  2,  8, 12,  3,  7,  0,  4, 10,  1, 13, 11,  6,
      4,  3,  2, 12,  9,  5, 15, 10, 11, 14,  1,  7,  6,  0,  8, 13},
    { 4, 11,  2, 14, 15,  0,  8, 13,  3, 12,  9,  7,  5, 10,  6,  1,
     13,  0, 11,  7,  4,  9,  1, 10, 14,  3,  5, 12,  2, 15,  8,  6,
      1,  4, 11, 13, 12,  3,  7, 14, 10, 15,  6,  8,  0,  5,  9,  2,
      6, 11, 13,  8,  1,  4, 10,  7,  9,  5,  0, 15, 14,  2,  3, 12},
    {13,  2,  8,  4,  6, 15, 11,  1, 10,  9,  3, 14,  5,  0, 12,  7,
      1, 15, 13,  8, 10,  3,  7,  4, 12,  5,  6, 11,  0, 14,  9,  2,
      7, 11,  4,  1,  9, 12, 14,  2,  0,  6, 10, 13, 15,  3,  5,  8,
      2,  1, 14,  7,  4, 10,  8, 13, 15, 12,  9,  0,  3,  5,  6, 11}};
// clang-format on

// Result bit i is input bit table[i]; the input has `inputBits` significant bits.
template <std::size_t N>
constexpr std::uint64_t Permute(std::uint64_t input, int inputBits,
                                const std::array<std::uint8_t, N>& table) {
  std::uint64_t output = 0;
  for (std::uint8_t position : table) {
    output = (output << 1) | ((input >> (inputBits - position)) & 1);
  }
  return output;
}

constexpr std::array<std::uint8_t, 64> Inverse(const std::array<std::uint8_t, 64>& table) {
  std::array<std::uint8_t, 64> inverse{};
  for (std::size_t i = 0; i < table.size(); ++i) {
    inverse[table[i] - 1] = static_cast<std::uint8_t>(i + 1);
  }
  return inverse;
}

// A 64-bit permutation as eight lookups, one per input byte.
using ByteLookup = std::array<std::array<std::uint64_t, 256>, 8>;

constexpr ByteLookup BuildByteLookup(const std::array<std::uint8_t, 64>& table) {
  ByteLookup lookup{};
  for (int byte = 0; byte < 8; ++byte) {
    for (int value = 0; value < 256; ++value) {
      lookup[byte][value] = Permute(std::uint64_t(value) << (56 - 8 * byte), 64, table);
    }
  }
  return lookup;
}

std::uint64_t ApplyByteLookup(const ByteLookup& lookup, std::uint64_t block) {
  std::uint64_t output = 0;
  for (int byte = 0; byte < 8; ++byte) output |= lookup[byte][(block >> (56 - 8 * byte)) & 0xFF];
  return output;
}

// S-box j and the round permutation combined: entry [j][v] is P of S_j(v) at its 4-bit place.
using SBoxLookup = std::array<std::array<std::uint32_t, 64>, 8>;

constexpr SBoxLookup BuildSBoxLookup() {
  SBoxLookup lookup{};
  for (int box = 0; box < 8; ++box) {
    for (int input = 0; input < 64; ++input) {
      const int row = ((input >> 4) & 2) | (input & 1);
      const int column = (input >> 1) & 15;
      const std::uint64_t placed = std::uint64_t(kSBoxes[box][row * 16 + column]) << (28 - 4 * box);
      lookup[box][input] = static_cast<std::uint32_t>(Permute(placed, 32, kRoundPermutation));
    }
  }
  return lookup;
}

constexpr ByteLookup kInitialLookup = BuildByteLookup(kInitialPermutation);
constexpr ByteLookup kFinalLookup = BuildByteLookup(Inverse(kInitialPermutation));
constexpr SBoxLookup kSBoxLookup = BuildSBoxLookup();

// f(R, K): the expansion E takes overlapping 6-bit windows of R; after rotating R right by one
// bit, window j is bits 26-4j to 31-4j (the last one wraps around).
inline std::uint32_t Feistel(std::uint32_t right, const std::array<std::uint8_t, 8>& key) {
  const std::uint32_t x = (right >> 1) | (right << 31);
  return kSBoxLookup[0][((x >> 26) ^ key[0]) & 63] ^ kSBoxLookup[1][((x >> 22) ^ key[1]) & 63] ^
         kSBoxLookup[2][((x >> 18) ^ key[2]) & 63] ^ kSBoxLookup[3][((x >> 14) ^ key[3]) & 63] ^
         kSBoxLookup[4][((x >> 10) ^ key[4]) & 63] ^ kSBoxLookup[5][((x >> 6) ^ key[5]) & 63] ^
         kSBoxLookup[6][((x >> 2) ^ key[6]) & 63] ^
         kSBoxLookup[7][(((x << 2) | (x >> 30)) ^ key[7]) & 63];
}

}  // namespace

KeySchedule ExpandKey(const std::uint8_t* key) {
  std::uint64_t keyBits = 0;
  for (int i = 0; i < 8; ++i) keyBits = (keyBits << 8) | key[i];
  const std::uint64_t halves = Permute(keyBits, 64, kPermutedChoice1);
  constexpr std::uint32_t kHalfMask = 0x0FFFFFFF;
  std::uint32_t c = static_cast<std::uint32_t>(halves >> 28) & kHalfMask;
  std::uint32_t d = static_cast<std::uint32_t>(halves) & kHalfMask;

  KeySchedule schedule{};
  for (std::size_t round = 0; round < schedule.size(); ++round) {
    const int shift = kKeyRotations[round];
    c = ((c << shift) | (c >> (28 - shift))) & kHalfMask;
    d = ((d << shift) | (d >> (28 - shift))) & kHalfMask;
    const std::uint64_t roundKey = Permute((std::uint64_t{c} << 28) | d, 56, kPermutedChoice2);
    for (int group = 0; group < 8; ++group) {
      schedule[round][group] = static_cast<std::uint8_t>((roundKey >> (42 - 6 * group)) & 63);
    }
  }
  return schedule;
}

std::uint64_t InitialPermutation(std::uint64_t block) {
  return ApplyByteLookup(kInitialLookup, block);
}

std::uint64_t FinalPermutation(std::uint64_t block) { return ApplyByteLookup(kFinalLookup, block); }

void Rounds(const KeySchedule& schedule, Direction direction, std::uint32_t& left,
            std::uint32_t& right) {
  std::uint32_t l = left;
  std::uint32_t r = right;
  if (direction == Direction::kEncipher) {
    for (int round = 0; round < 16; round += 2) {
      l ^= Feistel(r, schedule[round]);
      r ^= Feistel(l, schedule[round + 1]);
    }
  } else {
    for (int round = 15; round > 0; round -= 2) {
      l ^= Feistel(r, schedule[round]);
      r ^= Feistel(l, schedule[round - 1]);
    }
  }
  left = r;
  right = l;
}

}  // namespace qardex::crypto::des
