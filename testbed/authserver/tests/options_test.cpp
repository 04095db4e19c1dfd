#include "testbed/authserver/options.h"

#include <gtest/gtest.h>

namespace authserver {
namespace {

OptionsResult parse(std::vector<std::string> arguments) { return parse_options(arguments); }

TEST(Options, DefaultsAndAFullCommandLine) {
    const auto defaults = parse({"--hello-key-tool", "/x/qardex-tool"});
    ASSERT_TRUE(defaults.options) << defaults.error;
    EXPECT_EQ(defaults.options->port, 443);
    EXPECT_EQ(defaults.options->address, "127.0.0.1");
    EXPECT_EQ(defaults.options->modes.size(), 100u);
    EXPECT_EQ(
        std::string(defaults.options->card_secret.begin(), defaults.options->card_secret.end()),
        "HC-SAM-SHARED-01");
    EXPECT_FALSE(defaults.options->quick_ack);

    const auto full = parse({"--hello-key", "799D6513B3AE5E4416937C5165C51C3A", "--port", "8443",
                             "--modes", "normal,final-close", "--card-secret-hex", "0001",
                             "--quick-ack", "--lifetime", "5", "--log", "/tmp/x.events"});
    ASSERT_TRUE(full.options) << full.error;
    EXPECT_EQ((*full.options->hello_key)[0], 0x79);
    EXPECT_EQ((*full.options->hello_key)[15], 0x3A);
    EXPECT_EQ(full.options->port, 8443);
    EXPECT_EQ(full.options->modes.size(), 2u);
    EXPECT_EQ(full.options->card_secret, (testnet::Bytes{0x00, 0x01}));
    EXPECT_TRUE(full.options->quick_ack);
    EXPECT_EQ(full.options->lifetime_seconds, 5);
}

TEST(Options, MistakesAreRefused) {
    EXPECT_EQ(parse({}).error, "give --hello-key or --hello-key-tool");
    EXPECT_EQ(parse({"--hello-key", "799D"}).error, "--hello-key needs 32 hex digits");
    EXPECT_EQ(parse({"--hello-key-tool", "t", "--port", "0"}).error, "bad port '0'");
    EXPECT_EQ(parse({"--hello-key-tool", "t", "--port"}).error, "missing value after --port");
    EXPECT_EQ(parse({"--hello-key-tool", "t", "--modes", "nap"}).error, "unknown mode 'nap'");
    EXPECT_EQ(parse({"--hello-key-tool", "t", "--card-secret", ""}).error,
              "the card secret must not be empty");
    EXPECT_EQ(parse({"--hello-key-tool", "t", "--lifetime", "-3"}).error, "bad --lifetime '-3'");
    EXPECT_EQ(parse({"--verbose", "1"}).error, "unknown option --verbose");
    EXPECT_EQ(parse({"--help"}).error, "help");
}

TEST(Options, HelloKeyTextFromTheToolMayEndWithALineFeed) {
    EXPECT_TRUE(parse_hello_key("799D6513B3AE5E4416937C5165C51C3A\n"));
    EXPECT_TRUE(parse_hello_key("799d6513b3ae5e4416937c5165c51c3a"));
    EXPECT_FALSE(parse_hello_key("799D6513B3AE5E4416937C5165C51C3A00"));
    EXPECT_FALSE(parse_hello_key("799D6513B3AE5E4416937C5165C51C3G"));
    EXPECT_FALSE(parse_hello_key(""));
}

}  // namespace
}  // namespace authserver
