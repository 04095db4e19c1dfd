#include <gtest/gtest.h>

#include <cctype>
#include <thread>

#include "engine/random_generator.h"

namespace qardex::engine {
namespace {

TEST(RandomGenerator, FollowsTheLinearCongruentialSequence) {
  SeedRandom(1);
  // state 1 -> 2745024 -> ... ; draws are bits 16-30 of each new state.
  EXPECT_EQ(NextRandom(), 41);
  EXPECT_EQ(NextRandom(), 18467);
  EXPECT_EQ(NextRandom(), 6334);
  SeedRandom(0xFFFFFFFFu);  // wraps modulo 2^32
  const std::uint32_t state = 0xFFFFFFFFu * 214013u + 2531011u;
  EXPECT_EQ(NextRandom(), static_cast<int>((state >> 16) & 0x7FFF));
}

TEST(RandomGenerator, SixteenDigitsInReverseOrderOfDrawing) {
  SeedRandom(12345);
  int draws[4];
  for (int& draw : draws) draw = NextRandom() % 9999;
  char expected[17];
  std::snprintf(expected, sizeof expected, "%04d%04d%04d%04d", draws[3], draws[2], draws[1],
                draws[0]);
  SeedRandom(12345);
  EXPECT_EQ(RandomDigits16(), expected);
}

TEST(RandomGenerator, DigitsAreAlwaysSixteenAndNoGroupIs9999) {
  SeedRandom(7);
  bool sawLeadingZero = false;
  for (int i = 0; i < 5000; ++i) {
    const std::string digits = RandomDigits16();
    ASSERT_EQ(digits.size(), 16u);
    for (char c : digits) ASSERT_TRUE(std::isdigit(static_cast<unsigned char>(c)));
    for (int group = 0; group < 4; ++group) {
      ASSERT_NE(digits.substr(group * 4, 4), "9999");
      sawLeadingZero |= digits[group * 4] == '0';
    }
  }
  EXPECT_TRUE(sawLeadingZero);  // draws below 1000 are zero-padded
}

TEST(RandomGenerator, StateBelongsToEachThread) {
  SeedRandom(99);
  const int expectedNext = [] {
    SeedRandom(99);
    return NextRandom();
  }();
  SeedRandom(99);
  int otherThreadDraw = 0;
  std::thread other([&] {
    SeedRandom(5);
    otherThreadDraw = NextRandom();
  });
  other.join();
  EXPECT_EQ(NextRandom(), expectedNext);  // untouched by the other thread's seed
  SeedRandom(5);
  EXPECT_EQ(NextRandom(), otherThreadDraw);
}

}  // namespace
}  // namespace qardex::engine
