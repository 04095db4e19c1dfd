#include <gtest/gtest.h>

#include <string>

#include "crypto/card_ciphers.h"
#include "crypto/hex_text.h"
#include "crypto/key_material.h"
#include "tests/unit/crypto/crypto_oracle.h"

namespace qardex::crypto {
namespace {

using oracle::Bytes;

// The control's generator stand-in: a fixed, repeatable sequence of draws.
RandomDraw CountingDraw(int start) {
  return [next = start]() mutable { return (next += 7919) % 32768; };
}

const TdeaKey kCardKey =
    BuildCardKey({'0', '0', '0', '0', '1', '2', '3', '4', '5', '6', '7', '8'}, {2024, 3, 5});
const TdeaKey kDateKey = BuildDateKey({2024, 3, 4});

Bytes ParsedHex(const std::string& hex) {
  Bytes bytes;
  EXPECT_EQ(ParseHex(hex, &bytes), HexParseStatus::kOk);
  return bytes;
}

std::string HexOf(const Bytes& bytes) { return HexUpper(bytes.data(), bytes.size()); }

// Spread blocks built by hand, enciphered by libcrypto: ciphertexts no encipherer of ours made.
std::string OuterLayerOf(const Bytes& spread, const TdeaKey& key) {
  return HexOf(oracle::Tdea(key, spread, true));
}

TEST(PageStringCipher, LengthsFollowPaddingThenSpreading) {
  const std::pair<std::size_t, std::size_t> cases[] = {{6, 32},  {7, 32},  {8, 48}, {12, 48},
                                                       {16, 64}, {23, 64}, {24, 80}};
  for (const auto& [length, hexDigits] : cases) {
    std::string text(length, 'A');
    text[length - 1] = '\xA4';  // a lead byte of a double-byte code page, kept as is
    const std::string hex = EncipherPageString(text, kCardKey, CountingDraw(1));
    EXPECT_EQ(hex.size(), hexDigits) << length;
    EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    const Deciphered back = DecipherPageString(hex, kCardKey);
    ASSERT_TRUE(back.ok()) << DescribeDecipherError(back.error);
    EXPECT_EQ(back.bytes, text);
  }
}

// Peels the layers with libcrypto: FixedKey, drop every eighth byte, keep P bytes, CardKey.
TEST(PageStringCipher, LayersMatchAnIndependentDecipherer) {
  const std::string text =
      "\xA7\x64\xA4\x6A\xA6\xD7"
      "abc123";  // 12 bytes, P = 16
  const Bytes outer = oracle::Tdea(
      BuildFixedKey(), ParsedHex(EncipherPageString(text, kCardKey, CountingDraw(5))), false);
  ASSERT_EQ(outer.size(), 24u);
  Bytes inner;
  for (std::size_t i = 0; i < outer.size(); ++i) {
    if (i % 8 == 7) {
      EXPECT_LE(outer[i], 98);
    } else if (inner.size() < 16) {
      inner.push_back(outer[i]);
    } else {
      EXPECT_EQ(outer[i], 0);  // the zero fill of the last spread block
    }
  }
  const Bytes padded = oracle::Tdea(kCardKey, inner, false);
  EXPECT_EQ(std::string(padded.begin(), padded.begin() + 12), text);
  EXPECT_EQ(Bytes(padded.begin() + 12, padded.end()), Bytes(4, 4));
}

TEST(BasicTextCipher, RoundTripsEveryLengthUpTo56) {
  std::string line = "000012345678,A123456789,CHEN TA MING        ,0650101,M,1";
  ASSERT_EQ(line.size(), 56u);
  for (std::size_t length = 1; length <= line.size(); ++length) {
    const std::string text = line.substr(0, length);
    const std::string hex = EncipherBasicText(text, kDateKey, CountingDraw(int(length)));
    ASSERT_EQ(hex.size(), 16 * ((length + 6) / 7)) << length;
    const Deciphered back = DecipherBasicText(hex, kDateKey);
    ASSERT_TRUE(back.ok()) << length << ": " << DescribeDecipherError(back.error);
    ASSERT_EQ(back.bytes, text);
  }
  EXPECT_EQ(EncipherBasicText(line, kDateKey, CountingDraw(0)).size(), 128u);
  // Only the bytes before a NUL count.
  EXPECT_EQ(EncipherBasicText(std::string("abc\0def", 7), kDateKey, CountingDraw(0)),
            EncipherBasicText("abc", kDateKey, CountingDraw(0)));
}

TEST(BasicTextCipher, EqualsSingleDesUnderTheFirstThirdOfTheDateKey) {
  const std::string text = "000012345678,A123456789,WANG,0650101,F,";
  Bytes spread(SpreadLength(text.size()));
  SpreadBlocks(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), spread.data(),
               spread.size(), CountingDraw(9));
  EXPECT_EQ(EncipherBasicText(text, kDateKey, CountingDraw(9)),
            HexOf(oracle::DesEncipher(kDateKey.data(), spread)));
}

TEST(CardCipherInverses, RejectMalformedText) {
  const std::string good = EncipherPageString("abcdefgh", kCardKey, CountingDraw(2));
  EXPECT_EQ(DecipherPageString(good.substr(1), kCardKey).error, DecipherError::kOddLength);
  EXPECT_EQ(DecipherBasicText("Z" + good.substr(1), kDateKey).error, DecipherError::kNotHexDigit);
  for (const std::string& bad : {std::string(), good.substr(0, 30)}) {  // no or partial blocks
    EXPECT_EQ(DecipherPageString(bad, kCardKey).error, DecipherError::kBlockCount) << bad;
    EXPECT_EQ(DecipherBasicText(bad, kDateKey).error, DecipherError::kBlockCount) << bad;
  }
  // One genuine block: too short to hold even one padded block after spreading.
  EXPECT_EQ(DecipherPageString(good.substr(0, 16), kCardKey).error, DecipherError::kBlockCount);
}

TEST(CardCipherInverses, RejectTextNoEncipherMadeAndWrongKeys) {
  const TdeaKey fixed = BuildFixedKey();
  // Nine spread blocks hold 63 bytes: 56 of them spread to eight blocks, 64 to ten.
  EXPECT_EQ(DecipherPageString(OuterLayerOf(Bytes(72, 0), fixed), kCardKey).error,
            DecipherError::kBlockCount);
  Bytes spread(16, 0);
  spread[7] = 99;
  EXPECT_EQ(DecipherPageString(OuterLayerOf(spread, fixed), kCardKey).error,
            DecipherError::kFiller);
  spread[7] = 0;
  spread[9] = 1;  // the zero fill after the 8 inner bytes
  EXPECT_EQ(DecipherPageString(OuterLayerOf(spread, fixed), kCardKey).error,
            DecipherError::kSpreadTail);

  const Bytes badPadding = oracle::Tdea(kCardKey, {'a', 'b', 'c', 'd', 'e', 'f', 3, 2}, true);
  Bytes spreadInner(16, 0);
  std::copy(badPadding.begin(), badPadding.begin() + 7, spreadInner.begin());
  spreadInner[8] = badPadding[7];
  EXPECT_EQ(DecipherPageString(OuterLayerOf(spreadInner, fixed), kCardKey).error,
            DecipherError::kPadding);

  // A basic-data text whose last block carries no text byte is one block too long.
  const Bytes trailingEmptyBlock = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 1, 0, 0, 0, 0, 0, 0, 0, 1};
  EXPECT_EQ(DecipherBasicText(OuterLayerOf(trailingEmptyBlock, kDateKey), kDateKey).error,
            DecipherError::kBlockCount);

  // Another day (not the 5th: '4' and '5' differ only in a DES parity bit).
  const std::string line = "000012345678,A123456789,CHEN TA MING        ,0650101,M,1";
  EXPECT_FALSE(DecipherBasicText(EncipherBasicText(line, kDateKey, CountingDraw(1)),
                                 BuildDateKey({2024, 3, 6}))
                   .ok());
  EXPECT_FALSE(DecipherPageString(EncipherPageString("abcdefgh", kCardKey, CountingDraw(1)),
                                  BuildCardKey({}, {2024, 3, 5}))
                   .ok());
}

}  // namespace
}  // namespace qardex::crypto
