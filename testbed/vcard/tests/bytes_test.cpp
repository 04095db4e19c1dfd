#include "testbed/vcard/bytes.h"

#include <gtest/gtest.h>

namespace vcard {
namespace {

TEST(Hex, ReadsBothCasesAndSeparatorsBetweenBytes) {
    EXPECT_EQ(parse_hex("00a4 04:00\t1F"), (Bytes{0x00, 0xA4, 0x04, 0x00, 0x1F}));
    EXPECT_EQ(parse_hex(""), Bytes{});
}

TEST(Hex, RefusesOddDigitsForeignCharactersAndSplitBytes) {
    EXPECT_FALSE(parse_hex("123"));
    EXPECT_FALSE(parse_hex("0G"));
    EXPECT_FALSE(parse_hex("0x12"));
    EXPECT_FALSE(parse_hex("1 2"));
}

TEST(Hex, WritesUppercaseWithoutSeparators) {
    EXPECT_EQ(to_hex(Bytes{0x00, 0xAB, 0x9F}), "00AB9F");
    EXPECT_EQ(to_hex(Bytes{}), "");
}

}  // namespace
}  // namespace vcard
