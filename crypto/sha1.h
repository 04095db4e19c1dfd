// SHA-1 message digest, incremental (Start, Add, Finish) or in one call.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qardex::crypto {

inline constexpr std::size_t kSha1DigestSize = 20;
using Sha1Digest = std::array<std::uint8_t, kSha1DigestSize>;

class Sha1 {
 public:
  Sha1() { Start(); }

  void Start();
  // A null `data` is accepted only with a length of 0.
  void Add(const std::uint8_t* data, std::size_t length);
  // The digest of everything added since Start; the object starts over afterwards.
  Sha1Digest Finish();

 private:
  void Compress(const std::uint8_t* block);

  std::array<std::uint32_t, 5> state_{};
  std::array<std::uint8_t, 64> pending_{};
  std::size_t pendingLength_ = 0;
  std::uint64_t totalLength_ = 0;
};

Sha1Digest Sha1Of(const std::uint8_t* data, std::size_t length);

}  // namespace qardex::crypto
