#include <gtest/gtest.h>

#include <string>

#include "crypto/hex_text.h"
#include "crypto/sha1.h"
#include "tests/unit/crypto/crypto_oracle.h"

namespace qardex::crypto {
namespace {

std::string DigestHex(const Sha1Digest& digest) { return HexUpper(digest.data(), digest.size()); }

std::string DigestHexOf(const std::string& text) {
  return DigestHex(Sha1Of(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

TEST(Sha1, PublishedVectors) {
  EXPECT_EQ(DigestHexOf(""), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
  EXPECT_EQ(DigestHexOf("abc"), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  EXPECT_EQ(DigestHexOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983E441C3BD26EBAAE4AA1F95129E5E54670F1");

  // A million 'a', added in pieces that do not line up with the 64-byte blocks.
  const std::string piece(997, 'a');
  Sha1 sha1;
  std::size_t added = 0;
  for (; added + piece.size() <= 1000000; added += piece.size()) {
    sha1.Add(reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size());
  }
  sha1.Add(reinterpret_cast<const std::uint8_t*>(piece.data()), 1000000 - added);
  EXPECT_EQ(DigestHex(sha1.Finish()), "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F");
}

TEST(Sha1, MatchesLibcryptoAcrossPaddingBoundariesAndSplits) {
  std::mt19937 random(20240305);
  Sha1 sha1;  // reused: Finish starts it over
  for (std::size_t length = 0; length <= 200; ++length) {
    const oracle::Bytes message = oracle::RandomBytes(random, length);
    const std::size_t split = length == 0 ? 0 : random() % (length + 1);
    sha1.Add(message.data(), split);
    sha1.Add(message.data() + split, length - split);
    ASSERT_EQ(sha1.Finish(), oracle::Sha1(message.data(), length)) << "length " << length;
  }
}

}  // namespace
}  // namespace qardex::crypto
