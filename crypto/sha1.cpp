#include "crypto/sha1.h"

#include <algorithm>
#include <cstring>

namespace qardex::crypto {

namespace {

constexpr std::uint32_t RotateLeft(std::uint32_t value, int bits) {
  return (value << bits) | (value >> (32 - bits));
}

std::uint32_t LoadBigEndian(const std::uint8_t* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

}  // namespace

void Sha1::Start() {
  state_ = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
  pending_.fill(0);
  pendingLength_ = 0;
  totalLength_ = 0;
}

void Sha1::Add(const std::uint8_t* data, std::size_t length) {
  if (data == nullptr) return;
  totalLength_ += length;
  if (pendingLength_ > 0) {
    const std::size_t take = std::min(length, pending_.size() - pendingLength_);
    std::memcpy(pending_.data() + pendingLength_, data, take);
    pendingLength_ += take;
    data += take;
    length -= take;
    if (pendingLength_ < pending_.size()) return;
    Compress(pending_.data());
    pendingLength_ = 0;
  }
  for (; length >= pending_.size(); data += pending_.size(), length -= pending_.size()) {
    Compress(data);
  }
  std::memcpy(pending_.data(), data, length);
  pendingLength_ = length;
}

Sha1Digest Sha1::Finish() {
  const std::uint64_t bitLength = totalLength_ * 8;
  // 0x80, zeros up to 56 bytes into a block, then the bit length in 8 bytes big-endian.
  std::array<std::uint8_t, 72> tail{};
  tail[0] = 0x80;
  const std::size_t zeros = (pendingLength_ < 56 ? 56 : 120) - pendingLength_ - 1;
  for (int i = 0; i < 8; ++i) {
    tail[1 + zeros + i] = static_cast<std::uint8_t>(bitLength >> (56 - 8 * i));
  }
  Add(tail.data(), 1 + zeros + 8);

  Sha1Digest digest{};
  for (std::size_t i = 0; i < digest.size(); ++i) {
    digest[i] = static_cast<std::uint8_t>(state_[i / 4] >> (24 - 8 * (i % 4)));
  }
  Start();
  return digest;
}

void Sha1::Compress(const std::uint8_t* block) {
  std::uint32_t w[80];
  for (int t = 0; t < 16; ++t) w[t] = LoadBigEndian(block + 4 * t);
  for (int t = 16; t < 80; ++t) w[t] = RotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);

  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
  const auto step = [&](std::uint32_t f, std::uint32_t k, std::uint32_t word) {
    const std::uint32_t next = RotateLeft(a, 5) + f + e + k + word;
    e = d;
    d = c;
    c = RotateLeft(b, 30);
    b = a;
    a = next;
  };
  // Four stages of twenty steps, each with its own function of b, c, d and its constant.
  for (int t = 0; t < 20; ++t) step((b & c) | (~b & d), 0x5A827999u, w[t]);
  for (int t = 20; t < 40; ++t) step(b ^ c ^ d, 0x6ED9EBA1u, w[t]);
  for (int t = 40; t < 60; ++t) step((b & c) | (b & d) | (c & d), 0x8F1BBCDCu, w[t]);
  for (int t = 60; t < 80; ++t) step(b ^ c ^ d, 0xCA62C1D6u, w[t]);
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  state_[4] += e;
}

Sha1Digest Sha1Of(const std::uint8_t* data, std::size_t length) {
  Sha1 sha1;
  sha1.Add(data, length);
  return sha1.Finish();
}

}  // namespace qardex::crypto
