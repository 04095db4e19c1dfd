#include <gtest/gtest.h>

#include <string>

#include "crypto/calendar_date.h"
#include "crypto/hex_text.h"
#include "crypto/key_material.h"
#include "tests/unit/crypto/crypto_oracle.h"

namespace qardex::crypto {
namespace {

template <std::size_t N>
std::string Hex(const std::array<std::uint8_t, N>& bytes) {
  return HexUpper(bytes.data(), bytes.size());
}

// Equal apart from the parity bits, DES keys are the same key.
bool SameDesKey(const std::uint8_t* a, const std::uint8_t* b) {
  for (int i = 0; i < 8; ++i) {
    if ((a[i] | 1) != (b[i] | 1)) return false;
  }
  return true;
}

CardNumber CardNumberOf(const std::string& text) {
  CardNumber number{};
  std::copy(text.begin(), text.end(), number.begin());
  return number;
}

TEST(KeyMaterial, FixedKeysAreRealThreeKeyTripleDes) {
  const TdeaKey fixed = BuildFixedKey();
  EXPECT_FALSE(SameDesKey(&fixed[0], &fixed[8]));
  EXPECT_FALSE(SameDesKey(&fixed[8], &fixed[16]));
  EXPECT_FALSE(SameDesKey(&fixed[0], &fixed[16]));
  // The Hello key doubles as a zero-terminated passphrase, and its halves are K1 and K2.
  const HelloKey hello = BuildHelloKey();
  for (std::uint8_t byte : hello) EXPECT_NE(byte, 0);
  EXPECT_FALSE(SameDesKey(&hello[0], &hello[8]));
}

TEST(KeyMaterial, DateKeyIsMonthDayYearThreeTimes) {
  const TdeaKey key = BuildDateKey({2024, 3, 5});
  EXPECT_EQ(std::string(key.begin(), key.end()), "030520240305202403052024");
}

TEST(KeyMaterial, CardKeyIsSha1OfCardNumberAndLocalDateThenTheTail) {
  const CardNumber card = CardNumberOf("000012345678");
  const TdeaKey key = BuildCardKey(card, {2024, 12, 31});
  const std::string message = "00001234567820241231";
  const Sha1Digest digest =
      oracle::Sha1(reinterpret_cast<const std::uint8_t*>(message.data()), message.size());
  EXPECT_TRUE(std::equal(digest.begin(), digest.end(), key.begin()));

  const TdeaKey nextDay = BuildCardKey(card, {2025, 1, 1});
  const TdeaKey otherCard = BuildCardKey(CardNumberOf("000012345679"), {2024, 12, 31});
  EXPECT_NE(key, nextDay);
  EXPECT_NE(key, otherCard);
  EXPECT_TRUE(std::equal(key.begin() + 20, key.end(), nextDay.begin() + 20));
}

TEST(CalendarDate, ParsesOnlyRealDatesOfEightDigits) {
  const std::optional<CalendarDate> leapDay = ParseCompactDate("20240229");
  ASSERT_TRUE(leapDay);
  EXPECT_EQ(leapDay->year, 2024);
  EXPECT_EQ(leapDay->month, 2);
  EXPECT_EQ(leapDay->day, 29);
  EXPECT_TRUE(ParseCompactDate("20000229"));
  EXPECT_TRUE(ParseCompactDate("99991231"));
  for (const char* bad : {"20230229", "19000229", "20241301", "20240001", "20240431", "20240100",
                          "00000101", "2024031", "202403051", "2024-3-5", "2024030x", ""}) {
    EXPECT_FALSE(ParseCompactDate(bad)) << bad;
  }
}

}  // namespace
}  // namespace qardex::crypto
