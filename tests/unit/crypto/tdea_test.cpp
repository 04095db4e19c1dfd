#include <gtest/gtest.h>

#include <algorithm>

#include "crypto/tdea.h"
#include "tests/unit/crypto/crypto_oracle.h"

namespace qardex::crypto {
namespace {

using oracle::Bytes;
using oracle::FromHex;

TdeaKey KeyFromHex(const std::string& hex) {
  const Bytes bytes = FromHex(hex);
  TdeaKey key{};
  std::copy(bytes.begin(), bytes.end(), key.begin());
  return key;
}

Bytes Encipher(const TdeaKey& key, const Bytes& input) {
  Bytes output(input.size());
  TdeaEcbEncrypt(key, input.data(), output.data(), input.size());
  return output;
}

Bytes Decipher(const TdeaKey& key, const Bytes& input) {
  Bytes output(input.size());
  TdeaEcbDecrypt(key, input.data(), output.data(), input.size());
  return output;
}

TEST(Tdea, KnownAnswers) {
  // NIST SP 800-67 example with three different keys.
  const TdeaKey key = KeyFromHex("0123456789ABCDEF23456789ABCDEF01456789ABCDEF0123");
  const std::string text = "The qufck brown fox jump";
  const Bytes plain(text.begin(), text.end());
  const Bytes cipher = FromHex("A826FD8CE53B855FCCE21C8112256FE668D5C05DD9B6B900");
  EXPECT_EQ(Encipher(key, plain), cipher);
  EXPECT_EQ(Decipher(key, cipher), plain);

  // Three equal keys reduce to single DES: the FIPS 46 worked example and an SP 800-20
  // variable-plaintext entry.
  EXPECT_EQ(Encipher(KeyFromHex("133457799BBCDFF1133457799BBCDFF1133457799BBCDFF1"),
                     FromHex("0123456789ABCDEF")),
            FromHex("85E813540F0AB405"));
  EXPECT_EQ(Encipher(KeyFromHex("010101010101010101010101010101010101010101010101"),
                     FromHex("8000000000000000")),
            FromHex("95F8A5E5DD31D900"));
}

TEST(Tdea, MatchesLibcryptoForRandomKeysAndLengths) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 200; ++trial) {
    TdeaKey key{};
    for (std::uint8_t& byte : key) byte = static_cast<std::uint8_t>(random());
    const Bytes plain = oracle::RandomBytes(random, 8 * (random() % 33));
    const Bytes cipher = Encipher(key, plain);
    ASSERT_EQ(cipher, oracle::Tdea(key, plain, true)) << "trial " << trial;
    ASSERT_EQ(Decipher(key, cipher), plain);
    ASSERT_EQ(Decipher(key, plain), oracle::Tdea(key, plain, false));
  }
}

TEST(Tdea, TrailingPartialBlockIsNeitherReadNorWritten) {
  const TdeaKey key = KeyFromHex("0123456789ABCDEF23456789ABCDEF01456789ABCDEF0123");
  const Bytes plain = FromHex("000102030405060708090A0B0C0D0E0F10111213");  // 20 bytes
  for (const bool encipher : {true, false}) {
    Bytes output(20, 0xCC);
    (encipher ? TdeaEcbEncrypt : TdeaEcbDecrypt)(key, plain.data(), output.data(), 20);
    const Bytes whole(plain.begin(), plain.begin() + 16);
    EXPECT_EQ(Bytes(output.begin(), output.begin() + 16), oracle::Tdea(key, whole, encipher));
    EXPECT_EQ(Bytes(output.begin() + 16, output.end()), Bytes(4, 0xCC));
  }
  Bytes untouched(7, 0xCC);
  TdeaEcbEncrypt(key, plain.data(), untouched.data(), 7);
  EXPECT_EQ(untouched, Bytes(7, 0xCC));
}

}  // namespace
}  // namespace qardex::crypto
