#include "testbed/vcard/command_line.h"

#include <gtest/gtest.h>

namespace vcard {
namespace {

TEST(CommandLine, TakesEveryOption) {
    const auto result = parse_command_line({"--port", "35963", "--host", "127.0.0.2", "--profile",
                                            "card.conf", "--apdu-log", "apdu.log", "--wait", "5"});
    ASSERT_TRUE(result.options) << result.error;
    EXPECT_EQ(result.options->port, 35963);
    EXPECT_EQ(result.options->host, "127.0.0.2");
    EXPECT_EQ(result.options->profile_path, "card.conf");
    EXPECT_EQ(result.options->apdu_log_path, "apdu.log");
    EXPECT_EQ(result.options->connect_patience, std::chrono::seconds(5));
}

TEST(CommandLine, RefusesMissingOrMalformedValues) {
    EXPECT_EQ(parse_command_line({}).error, "--port is required");
    EXPECT_FALSE(parse_command_line({"--port"}).options);
    EXPECT_FALSE(parse_command_line({"--port", "0"}).options);
    EXPECT_FALSE(parse_command_line({"--port", "65536"}).options);
    EXPECT_FALSE(parse_command_line({"--port", "-1"}).options);
    EXPECT_FALSE(parse_command_line({"--port", "99999999999999999999"}).options);
    EXPECT_FALSE(parse_command_line({"--port", "1", "--wait", "x"}).options);
    EXPECT_FALSE(parse_command_line({"--port", "1", "--colour", "red"}).options);
}

}  // namespace
}  // namespace vcard
