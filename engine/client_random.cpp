#include "engine/client_random.h"

#include <cstdint>
#include <cstdio>

#include "crypto/secure_zero.h"

namespace qardex::engine {

namespace {

constexpr int kGroups = 4;
constexpr unsigned kGroupRange = 9999;  // 0000 to 9998
// 16-bit values from here up would make the low groups likelier: they are drawn again.
constexpr unsigned kUnbiasedLimit = 65536 / kGroupRange * kGroupRange;
// Each value is kept with a chance above 91%: running out of rounds means a broken generator.
constexpr int kRounds = 8;

}  // namespace

bool SystemRandomDigits16(Platform& platform, std::string& digits) {
  digits.clear();
  unsigned groups[kGroups] = {};
  const crypto::ScopedWipe wipeGroups(groups);
  std::uint8_t bytes[2 * kGroups];
  const crypto::ScopedWipe wipeBytes(bytes);
  int found = 0;
  for (int round = 0; round < kRounds && found < kGroups; ++round) {
    if (!platform.SystemRandom(bytes, sizeof bytes)) return false;
    for (std::size_t i = 0; i + 1 < sizeof bytes && found < kGroups; i += 2) {
      const unsigned value = static_cast<unsigned>(bytes[i]) << 8 | bytes[i + 1];
      if (value < kUnbiasedLimit) groups[found++] = value % kGroupRange;
    }
  }
  if (found < kGroups) return false;
  char text[4 * kGroups + 1] = {};
  const crypto::ScopedWipe wipeText(text);
  std::snprintf(text, sizeof text, "%04u%04u%04u%04u", groups[0], groups[1], groups[2], groups[3]);
  digits.assign(text, 4 * kGroups);
  return true;
}

}  // namespace qardex::engine
