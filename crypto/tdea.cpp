#include "crypto/tdea.h"

#include "crypto/des_core.h"
#include "crypto/secure_zero.h"

namespace qardex::crypto {

namespace {

using des::Direction;

struct Stage {
  des::KeySchedule schedule;
  Direction direction;
};

std::uint64_t LoadBlock(const std::uint8_t* bytes) {
  std::uint64_t block = 0;
  for (std::size_t i = 0; i < kDesBlockSize; ++i) block = (block << 8) | bytes[i];
  return block;
}

void StoreBlock(std::uint64_t block, std::uint8_t* bytes) {
  for (std::size_t i = 0; i < kDesBlockSize; ++i) {
    bytes[i] = static_cast<std::uint8_t>(block >> (56 - 8 * i));
  }
}

// The three DES operations share one initial and one final permutation: between them the
// final permutation of one and the initial permutation of the next cancel out.
void RunStages(const std::array<Stage, 3>& stages, const std::uint8_t* input, std::uint8_t* output,
               std::size_t length) {
  if (input == nullptr || output == nullptr) return;
  for (std::size_t offset = 0; length - offset >= kDesBlockSize; offset += kDesBlockSize) {
    const std::uint64_t permuted = des::InitialPermutation(LoadBlock(input + offset));
    auto left = static_cast<std::uint32_t>(permuted >> 32);
    auto right = static_cast<std::uint32_t>(permuted);
    for (const Stage& stage : stages) des::Rounds(stage.schedule, stage.direction, left, right);
    StoreBlock(des::FinalPermutation((std::uint64_t{left} << 32) | right), output + offset);
  }
}

des::KeySchedule ScheduleOf(const TdeaKey& key, std::size_t part) {
  return des::ExpandKey(key.data() + part * kDesBlockSize);
}

}  // namespace

void TdeaEcbEncrypt(const TdeaKey& key, const std::uint8_t* input, std::uint8_t* output,
                    std::size_t length) {
  std::array<Stage, 3> stages = {Stage{ScheduleOf(key, 0), Direction::kEncipher},
                                 Stage{ScheduleOf(key, 1), Direction::kDecipher},
                                 Stage{ScheduleOf(key, 2), Direction::kEncipher}};
  const ScopedWipe wipeSchedules(stages);
  RunStages(stages, input, output, length);
}

void TdeaEcbDecrypt(const TdeaKey& key, const std::uint8_t* input, std::uint8_t* output,
                    std::size_t length) {
  std::array<Stage, 3> stages = {Stage{ScheduleOf(key, 2), Direction::kDecipher},
                                 Stage{ScheduleOf(key, 1), Direction::kEncipher},
                                 Stage{ScheduleOf(key, 0), Direction::kDecipher}};
  const ScopedWipe wipeSchedules(stages);
  RunStages(stages, input, output, length);
}

}  // namespace qardex::crypto
