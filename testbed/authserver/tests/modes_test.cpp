#include "testbed/authserver/modes.h"

#include <gtest/gtest.h>

namespace authserver {
namespace {

TEST(Modes, ListGivesOneModePerConnectionInOrder) {
    const auto parsed = parse_mode_list("normal,slow-hello:5*2,hello-bad-padding");
    ASSERT_EQ(parsed.error, "");
    ASSERT_EQ(parsed.modes.size(), 4u);
    EXPECT_EQ(parsed.modes[0].kind, ModeKind::kNormal);
    EXPECT_EQ(parsed.modes[1].kind, ModeKind::kSlowHello);
    EXPECT_EQ(parsed.modes[2].seconds, 5);
    EXPECT_EQ(parsed.modes[3].kind, ModeKind::kHelloBadPadding);
    EXPECT_EQ(mode_name(parsed.modes[3].kind), "hello-bad-padding");
    EXPECT_EQ(parse_mode_list("normal*50").modes.size(), 50u);
}

TEST(Modes, MistakesAreRefusedWithAReason) {
    EXPECT_EQ(parse_mode_list("").error, "no mode given");
    EXPECT_EQ(parse_mode_list("normal,lunch").error, "unknown mode 'lunch'");
    EXPECT_EQ(parse_mode_list("slow-02").error, "mode 'slow-02' needs ':SECONDS'");
    EXPECT_EQ(parse_mode_list("normal:3").error, "mode 'normal' takes no seconds");
    EXPECT_EQ(parse_mode_list("normal*0").error, "bad count in 'normal*0'");
    EXPECT_EQ(parse_mode_list("normal*x").error, "bad count in 'normal*x'");
    EXPECT_EQ(parse_mode_list("slow-hello:-1").error, "bad number of seconds in 'slow-hello:-1'");
    EXPECT_EQ(parse_mode_list("normal*6000,normal*5000").error, "more than 10000 connections");
    EXPECT_NE(parse_mode_list("normal,,normal").error, "");
}

}  // namespace
}  // namespace authserver
