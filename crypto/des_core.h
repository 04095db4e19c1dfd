// The DES block function (FIPS 46-3) split into the parts Triple-DES chains: the key schedule,
// the initial and final permutations, and the sixteen rounds.
#pragma once

#include <array>
#include <cstdint>

namespace qardex::crypto::des {

// Sixteen round keys; each holds its 48 bits as eight 6-bit groups, one per S-box.
using KeySchedule = std::array<std::array<std::uint8_t, 8>, 16>;

// Expands 8 key bytes; the parity bits (the lowest bit of each byte) play no part.
KeySchedule ExpandKey(const std::uint8_t* key);

// Blocks are 64-bit words holding the 8 block bytes most significant first.
std::uint64_t InitialPermutation(std::uint64_t block);
std::uint64_t FinalPermutation(std::uint64_t block);

enum class Direction { kEncipher, kDecipher };

// The sixteen rounds on the permuted halves, ending with the halves exchanged as DES leaves
// them before its final permutation. The result is what the next DES operation would see after
// its own initial permutation, so chained operations need no permutation in between.
void Rounds(const KeySchedule& schedule, Direction direction, std::uint32_t& left,
            std::uint32_t& right);

}  // namespace qardex::crypto::des
