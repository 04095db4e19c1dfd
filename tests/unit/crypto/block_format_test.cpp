#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/block_padding.h"
#include "crypto/hex_text.h"
#include "crypto/spread_blocks.h"
#include "tests/unit/crypto/crypto_oracle.h"

namespace qardex::crypto {
namespace {

using oracle::Bytes;

Bytes Pad(const Bytes& message) {
  Bytes padded(PaddedLength(message.size()));
  EXPECT_EQ(pad_block8(message.data(), message.size(), padded.data(), padded.size()),
            padded.size());
  return padded;
}

TEST(BlockPadding, PadsWithTheCountAndStrictRemovalInvertsIt) {
  EXPECT_EQ(Pad({'a', 'b', 'c'}), (Bytes{'a', 'b', 'c', 5, 5, 5, 5, 5}));
  EXPECT_EQ(Pad(Bytes(8, 8)), Bytes(16, 8));
  Bytes shared = {'h', 'e', 'l', 'l', 'o', 0, 0, 0};  // source and destination the same
  EXPECT_EQ(pad_block8(shared.data(), 5, shared.data(), shared.size()), 8u);
  EXPECT_EQ(shared, (Bytes{'h', 'e', 'l', 'l', 'o', 3, 3, 3}));
  Bytes tooSmall(15, 0xEE);
  EXPECT_FALSE(pad_block8(shared.data(), 8, tooSmall.data(), tooSmall.size()));
  EXPECT_EQ(tooSmall, Bytes(15, 0xEE));
  EXPECT_EQ(CheckedUnpadLength(shared.data(), shared.size()), 5u);
  for (const Bytes& bad : {Bytes{}, Bytes{1, 2, 3, 4, 5, 6, 7, 0}, Bytes{1, 2, 3, 4, 5, 6, 7, 9},
                           Bytes{1, 2, 3, 4, 5, 6, 2, 3}, Bytes{1, 2, 3, 4, 5, 1}}) {
    EXPECT_FALSE(CheckedUnpadLength(bad.data(), bad.size())) << bad.size();
  }
}

TEST(BlockPadding, SessionUnpadReadsOnlyTheLastByte) {
  Bytes padded = Pad(Bytes(8, 'x'));
  EXPECT_EQ(unpad_block8(padded.data(), padded.size()), 8u);
  EXPECT_EQ(padded[8], 0);  // ends the text there
  Bytes loose = {'a', 'b', 'c', 'd', 'e', 'f', 7, 2};
  EXPECT_EQ(unpad_block8(loose.data(), loose.size()), 6u);
  Bytes zeroLast = {'a', 'b', 0};
  EXPECT_EQ(unpad_block8(zeroLast.data(), zeroLast.size()), 3u);
  Bytes nine = {'a', 9};
  EXPECT_EQ(unpad_block8(nine.data(), nine.size()), 0u);
  Bytes beyondStart = {'a', 5};
  EXPECT_EQ(unpad_block8(beyondStart.data(), beyondStart.size()), 0u);
  EXPECT_EQ(beyondStart, (Bytes{'a', 5}));
}

// Replays fixed draws and counts them.
struct ScriptedDraws {
  std::vector<int> values;
  std::size_t used = 0;
  RandomDraw Draw() {
    return [this] { return values.at(used++); };
  }
};

TEST(SpreadBlocks, SevenDataBytesZeroFilledThenAFiller) {
  const Bytes input = {1, 2, 3, 4, 5, 6, 7, 8};
  Bytes out(16, 0xEE);
  ScriptedDraws draws{{40, 140, 1, 2}};
  EXPECT_EQ(SpreadBlocks(input.data(), 3, out.data(), out.size(), draws.Draw()), 8u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 8), (Bytes{1, 2, 3, 0, 0, 0, 0, 40}));
  EXPECT_EQ(SpreadBlocks(input.data(), 7, out.data(), out.size(), draws.Draw()), 8u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 140 % 99}));
  EXPECT_EQ(SpreadBlocks(input.data(), 8, out.data(), out.size(), draws.Draw()), 16u);
  EXPECT_EQ(out, (Bytes{1, 2, 3, 4, 5, 6, 7, 1, 8, 0, 0, 0, 0, 0, 0, 2}));

  EXPECT_EQ(SpreadBlocks(nullptr, 0, nullptr, 0, draws.Draw()), 0u);
  Bytes small(8, 0xEE);
  EXPECT_FALSE(SpreadBlocks(input.data(), 8, small.data(), small.size(), draws.Draw()));
  EXPECT_EQ(small, Bytes(8, 0xEE));
  EXPECT_EQ(draws.used, 4u);  // neither the empty nor the refused spread drew
}

TEST(SpreadBlocks, AFillerOfZeroIsRedrawnOnce) {
  const auto fillerFor = [](std::vector<int> values, std::size_t expectedDraws) {
    const Bytes one = {'x'};
    Bytes out(8);
    ScriptedDraws draws{std::move(values)};
    SpreadBlocks(one.data(), 1, out.data(), out.size(), draws.Draw());
    EXPECT_EQ(draws.used, expectedDraws);
    return out[7];
  };
  EXPECT_EQ(fillerFor({0, 5}, 2), 5);
  EXPECT_EQ(fillerFor({198, 32767}, 2), 32767 % 99);  // 198 % 99 is zero as well
  EXPECT_EQ(fillerFor({0, 99}, 2), 0);                // the second value is kept whatever it is
  EXPECT_EQ(fillerFor({98, 0}, 1), 98);
}

TEST(SpreadBlocks, FillersStayBelow99) {
  std::mt19937 random(11);
  const RandomDraw draw = [&random] { return static_cast<int>(random() % 32768); };
  const Bytes data(7 * 500, 0xFF);
  Bytes spread(SpreadLength(data.size()));
  ASSERT_TRUE(SpreadBlocks(data.data(), data.size(), spread.data(), spread.size(), draw));
  EXPECT_TRUE(FillersInRange(spread.data(), spread.size()));
  for (std::size_t i = 7; i < spread.size(); i += 8) ASSERT_LE(spread[i], 98);
  const Bytes filler99 = {0, 0, 0, 0, 0, 0, 0, 98, 0, 0, 0, 0, 0, 0, 0, 99};
  EXPECT_FALSE(FillersInRange(filler99.data(), filler99.size()));
}

TEST(HexText, UppercasePairsAndStrictParsing) {
  const Bytes bytes = {0x0A, 0xFF};
  EXPECT_EQ(HexUpper(bytes.data(), bytes.size()), "0AFF");
  EXPECT_EQ(HexLower(bytes.data(), bytes.size()), "0aff");
  char small[3] = {'?', '?', '?'};
  EXPECT_FALSE(HexUpper(bytes.data(), bytes.size(), small, sizeof small));
  EXPECT_EQ(std::string(small, 3), "???");

  Bytes all(256), parsed;
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  ASSERT_EQ(ParseHex(HexUpper(all.data(), all.size()), &parsed), HexParseStatus::kOk);
  EXPECT_EQ(parsed, all);
  ASSERT_EQ(ParseHex("0aff", &parsed), HexParseStatus::kOk);
  EXPECT_EQ(parsed, bytes);
  EXPECT_EQ(ParseHex("0AF", &parsed), HexParseStatus::kOddLength);
  for (const char* bad : {"0G", "0A F", "0x0A", "\n0A ", "-1"}) {
    EXPECT_EQ(ParseHex(bad, &parsed), HexParseStatus::kNotHexDigit) << bad;
  }
  EXPECT_EQ(parsed, bytes);  // untouched by the failures
}

}  // namespace
}  // namespace qardex::crypto
