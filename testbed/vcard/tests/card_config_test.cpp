#include "testbed/vcard/card_config.h"

#include <gtest/gtest.h>

namespace vcard {
namespace {

Bytes hex(const char* text) { return *parse_hex(text); }

std::string text_of(const Bytes& bytes, std::size_t offset, std::size_t length) {
    return std::string(bytes.begin() + offset, bytes.begin() + offset + length);
}

CardProfile parse_ok(const char* text) {
    const auto result = parse_card_config(text);
    EXPECT_TRUE(result.profile) << result.error;
    return result.profile.value_or(CardProfile{});
}

std::string parse_error(const char* text) {
    const auto result = parse_card_config(text);
    EXPECT_FALSE(result.profile);
    return result.error;
}

TEST(CardConfig, EmptyProfileIsTheDefaultCard) {
    const CardProfile profile = parse_ok("# nothing but a comment\n\n");
    const CardProfile defaults = default_profile();
    EXPECT_EQ(profile.basic_data, defaults.basic_data);
    EXPECT_EQ(profile.card_data, defaults.card_data);
    EXPECT_EQ(profile.card_id, defaults.card_id);
    EXPECT_TRUE(profile.fixed_answers.empty());
    EXPECT_TRUE(profile.require_select);
}

TEST(CardConfig, FieldsFillTheRecordAtTheirOffsetsPaddedWithBlanks) {
    const CardProfile profile = parse_ok(
        "card_number = 900000000001\r\n"
        "holder_name_hex = B3AF A46A A9FA\r\n"  // three double-byte characters
        "id_number = B234567890\n"
        "birth_date = 0791231\n"
        "sex = F\n"
        "issue_date = \"1120101\"\n");
    const Bytes& basic = profile.basic_data;
    ASSERT_EQ(basic.size(), kBasicDataLength);
    EXPECT_EQ(text_of(basic, 0, 12), "900000000001");
    EXPECT_EQ(Bytes(basic.begin() + 12, basic.begin() + 18), hex("B3AFA46AA9FA"));
    EXPECT_EQ(text_of(basic, 18, 14), std::string(14, ' '));
    EXPECT_EQ(text_of(basic, 32, 10), "B234567890");
    EXPECT_EQ(text_of(basic, 42, 7), "0791231");
    EXPECT_EQ(text_of(basic, 49, 1), "F");
    EXPECT_EQ(text_of(basic, 50, 7), "1120101");
}

TEST(CardConfig, UnsetFieldsKeepTheDefaultCardsValues) {
    const CardProfile profile = parse_ok("sex = F\n");
    Bytes expected = default_profile().basic_data;
    expected[49] = 'F';
    EXPECT_EQ(profile.basic_data, expected);
}

TEST(CardConfig, QuotesKeepBlanksAndHexCanCarryNulPadding) {
    EXPECT_EQ(text_of(parse_ok("holder_name = \"  LIN \"\n").basic_data, 12, 20),
              "  LIN" + std::string(15, ' '));
    const CardProfile nul_padded =
        parse_ok("holder_name_hex = 4C494E 00000000000000000000000000000000 00\n");
    EXPECT_EQ(Bytes(nul_padded.basic_data.begin() + 15, nul_padded.basic_data.begin() + 32),
              Bytes(17, 0x00));
}

TEST(CardConfig, WholeRecordMayBeGivenAtAnyLength) {
    EXPECT_EQ(parse_ok("basic_data_hex = 31 32 33\n").basic_data, hex("313233"));
    EXPECT_EQ(parse_ok("basic_data_hex =\n").basic_data, Bytes{});
}

TEST(CardConfig, CardDataAndIdentifierParts) {
    const CardProfile profile = parse_ok(
        "card_data_flag_hex = 00\n"
        "card_data_tail = XYZ\n"
        "card_id = ID0000000001\n"
        "card_id_extra_hex = FFEE\n");
    EXPECT_EQ(profile.card_data, hex("00 58595A"));
    EXPECT_EQ(profile.card_id, hex("494430303030303030303031 FFEE"));
}

TEST(CardConfig, RefusalsAnswersAndSwitches) {
    const CardProfile profile = parse_ok(
        "refuse.select = 6a82\n"
        "answer.read_basic = 3132 9000\n"
        "answer.get_challenge =\n"
        "short.mutual_auth = 8\n"
        "require_select = no\n"
        "hold.read_id = pull-card_1\n");
    EXPECT_EQ(profile.short_answers.at(Command::kMutualAuth), 8u);
    EXPECT_EQ(profile.holds.at(Command::kReadId), "pull-card_1");
    EXPECT_EQ(profile.fixed_answers.at(Command::kSelect), hex("6A82"));
    EXPECT_EQ(profile.fixed_answers.at(Command::kReadBasic), hex("31329000"));
    EXPECT_EQ(profile.fixed_answers.at(Command::kGetChallenge), Bytes{});
    EXPECT_FALSE(profile.require_select);
}

TEST(CardConfig, MistakesAreReportedWithTheirLine) {
    EXPECT_EQ(parse_error("sex = M\nsex M\n"), "line 2: expected 'key = value', found 'sex M'");
    EXPECT_EQ(parse_error("colour = red\n"), "line 1: unknown key 'colour'");
    EXPECT_EQ(parse_error("short.read_id = 257\n"),
              "line 1: 'short.read_id' needs a byte count from 0 to 256");
    EXPECT_EQ(parse_error("= 1\n"), "line 1: missing key before '='");
    EXPECT_EQ(parse_error("\n\ncard_number = 1234567890123\n"),
              "line 3: 'card_number' has 13 bytes; at most 12 fit");
    EXPECT_EQ(parse_error("holder_name_hex = 4G\n"),
              "line 1: 'holder_name_hex' is not hexadecimal: '4G'");
    EXPECT_EQ(parse_error("card_data_flag = 12\n"),
              "line 1: 'card_data_flag' has 2 bytes; at most 1 fit");
    EXPECT_EQ(parse_error("require_select = maybe\n"), "line 1: expected yes or no, found 'maybe'");
    EXPECT_EQ(parse_error("hold.lunch = x\n"), "line 1: unknown command 'lunch' in 'hold.lunch'");
    EXPECT_NE(parse_error("hold.select = ../x\n"), "");
    EXPECT_NE(parse_error("hold.select =\n"), "");
}

TEST(CardConfig, ContradictionsAndRepeatsAreRefused) {
    EXPECT_EQ(parse_error("sex = M\nsex_hex = 46\n"), "line 2: 'sex' is given more than once");
    EXPECT_EQ(parse_error("refuse.select = 6A82\nanswer.select = 9000\n"),
              "line 2: 'select' has both a refusal and an answer");
    EXPECT_NE(parse_error("basic_data_hex = 00\nsex = M\n").find("basic_data_hex"),
              std::string::npos);
    EXPECT_EQ(parse_error("refuse.format_disk = 6A82\n"),
              "line 1: unknown command 'format_disk' in 'refuse.format_disk'");
    EXPECT_EQ(parse_error("refuse.read_id = 90\n"),
              "line 1: 'refuse.read_id' needs a status word of 2 bytes, e.g. 6A82");
}

TEST(CardConfig, AnswersLargerThanAShortApduCanCarryAreRefused) {
    const std::string too_big = "answer.read_id = " + std::string(2 * 259, 'A') + "\n";
    EXPECT_FALSE(parse_card_config(too_big).profile);
    const std::string largest = "answer.read_id = " + std::string(2 * 258, 'A') + "\n";
    EXPECT_TRUE(parse_card_config(largest).profile);
}

TEST(CardConfig, MissingFileIsAnError) {
    const auto result = load_card_config("/nonexistent/card.conf");
    EXPECT_FALSE(result.profile);
    EXPECT_EQ(result.error, "cannot read card profile '/nonexistent/card.conf'");
}

}  // namespace
}  // namespace vcard
