#include "testbed/vcard/hc_card.h"

#include <gtest/gtest.h>

#include "testbed/vcard/status_words.h"

namespace vcard {
namespace {

Bytes hex(const char* text) { return *parse_hex(text); }

const Bytes kSelect = hex("00A4040010D1580000010000000000000000001100");
const Bytes kSelect31 = hex("00A4040010D1580000010000000000000000003100");
const Bytes kReadId = hex("00CA000002000000");
const Bytes kReadBasic = hex("00CA110002000000");
const Bytes kReadCardData = hex("00CA240002000000");
const Bytes kGetChallenge = hex("0084000008");

Bytes mutual_auth(std::uint8_t fill) {
    Bytes apdu = hex("0082111220");
    apdu.insert(apdu.end(), kMutualAuthDataLength, fill);
    apdu.push_back(0x10);
    return apdu;
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Hands out 00 01 02 ... so that each challenge differs from the last.
RandomBytes counting_random() {
    return [next = std::uint8_t{0}](std::size_t count) mutable {
        Bytes out(count);
        for (auto& b : out) b = next++;
        return out;
    };
}

// Remembers what the card passed on and answers with a fixed 16-byte result.
class RecordingAuthenticator : public MutualAuthenticator {
 public:
    RecordingAuthenticator(Bytes* challenge, Bytes* data) : challenge_(challenge), data_(data) {}
    Bytes respond(const Bytes& challenge, const Bytes& host_data) override {
        *challenge_ = challenge;
        *data_ = host_data;
        return concat(Bytes(16, 0xAA), sw::kOk);
    }

 private:
    Bytes* challenge_;
    Bytes* data_;
};

HcCard make_card(CardProfile profile = default_profile()) {
    return HcCard(std::move(profile), counting_random(), std::make_unique<RefusingAuthenticator>());
}

TEST(HcCard, CommandIdentificationMatchesTheFixedTable) {
    EXPECT_EQ(identify(kSelect), Command::kSelect);
    EXPECT_EQ(identify(kSelect31), Command::kSelect31);
    EXPECT_EQ(identify(kReadId), Command::kReadId);
    EXPECT_EQ(identify(kReadBasic), Command::kReadBasic);
    EXPECT_EQ(identify(kReadCardData), Command::kReadCardData);
    EXPECT_EQ(identify(kGetChallenge), Command::kGetChallenge);
    EXPECT_EQ(identify(mutual_auth(0x5A)), Command::kMutualAuth);
    for (Command command : kAllCommands) {
        EXPECT_EQ(command_by_name(command_name(command)), command);
    }
}

TEST(HcCard, SelectedCardAnswersEveryReadWithProfileDataAndOk) {
    CardProfile profile = default_profile();
    profile.card_id = concat(bytes_of("ABCDEFGHIJKL"), hex("0102"));
    HcCard card = make_card(profile);

    EXPECT_EQ(card.process(kSelect), sw::kOk);
    EXPECT_EQ(card.process(kReadId), concat(profile.card_id, sw::kOk));
    const Bytes basic = card.process(kReadBasic);
    ASSERT_EQ(basic.size(), kBasicDataLength + 2);
    EXPECT_EQ(basic, concat(profile.basic_data, sw::kOk));
    EXPECT_EQ(card.process(kReadCardData), concat(profile.card_data, sw::kOk));
}

TEST(HcCard, DefaultBasicDataHasTheRecordLayout) {
    const Bytes basic = default_profile().basic_data;
    ASSERT_EQ(basic.size(), kBasicDataLength);
    std::size_t width_sum = 0;
    for (const auto& field : kBasicFields) width_sum += field.width;
    EXPECT_EQ(width_sum, kBasicDataLength);
    EXPECT_EQ(std::string(basic.begin() + 12, basic.begin() + 32), "WANG XIAO MING      ");
}

// Another control selecting HC31 between our SELECT and our reads must break them, as it does
// on a real card.
TEST(HcCard, ReadsNeedTheHcApplicationSelectedSincePowerOn) {
    HcCard card = make_card();
    for (const Bytes& read : {kReadId, kReadBasic, kReadCardData, kGetChallenge}) {
        EXPECT_EQ(card.process(read), sw::kConditionsNotSatisfied);
    }
    EXPECT_EQ(card.process(kSelect), sw::kOk);
    EXPECT_EQ(card.process(kReadBasic).size(), kBasicDataLength + 2);
    EXPECT_EQ(card.process(kSelect31), sw::kOk);
    EXPECT_EQ(card.process(kReadBasic), sw::kConditionsNotSatisfied);
    EXPECT_EQ(card.process(kSelect), sw::kOk);
    card.reset();
    EXPECT_EQ(card.process(kReadBasic), sw::kConditionsNotSatisfied);
}

TEST(HcCard, SelectionCanBeMadeOptional) {
    CardProfile profile = default_profile();
    profile.require_select = false;
    HcCard card = make_card(profile);
    EXPECT_EQ(card.process(kReadId).size(), kCardIdLength + 2);
}

TEST(HcCard, FixedAnswersReplaceTheCardsOwnAndARefusedSelectDeselects) {
    CardProfile profile = default_profile();
    profile.fixed_answers[Command::kReadBasic] = hex("6A82");
    profile.fixed_answers[Command::kReadCardData] = hex("41 42 90 00");
    profile.fixed_answers[Command::kSelect31] = hex("6A82");
    HcCard card = make_card(profile);

    EXPECT_EQ(card.process(kSelect), sw::kOk);
    EXPECT_EQ(card.process(kReadBasic), hex("6A82"));
    EXPECT_EQ(card.process(kReadCardData), hex("41429000"));
    EXPECT_EQ(card.process(kSelect31), hex("6A82"));
    EXPECT_EQ(card.process(kReadId), sw::kConditionsNotSatisfied);
}

TEST(HcCard, ShortAnswersKeepTheirFirstDataBytesAndTheStatusWord) {
    CardProfile profile = default_profile();
    profile.short_answers[Command::kReadId] = 4;
    profile.short_answers[Command::kReadCardData] = 0;
    profile.short_answers[Command::kReadBasic] = 300;  // longer than the answer: unchanged
    HcCard card = make_card(profile);
    EXPECT_EQ(card.process(kSelect), sw::kOk);
    EXPECT_EQ(card.process(kReadId), hex("30303030 9000"));
    EXPECT_EQ(card.process(kReadCardData), sw::kOk);
    EXPECT_EQ(card.process(kReadBasic).size(), kBasicDataLength + 2);
}

TEST(HcCard, ASelectAnsweredOkByAFixedAnswerStillSelects) {
    CardProfile profile = default_profile();
    profile.fixed_answers[Command::kSelect] = hex("6F 10 90 00");
    HcCard card = make_card(profile);
    EXPECT_EQ(card.process(kSelect), hex("6F109000"));
    EXPECT_EQ(card.process(kReadId).size(), kCardIdLength + 2);
}

TEST(HcCard, EachChallengeIsFresh) {
    HcCard card = make_card();
    card.process(kSelect);
    const Bytes first = card.process(kGetChallenge);
    const Bytes second = card.process(kGetChallenge);
    ASSERT_EQ(first.size(), kChallengeLength + 2);
    EXPECT_EQ(Bytes(first.end() - 2, first.end()), sw::kOk);
    EXPECT_NE(first, second);
}

TEST(HcCard, MutualAuthenticationIsRefusedByDefault) {
    HcCard card = make_card();
    card.process(kSelect);
    card.process(kGetChallenge);
    EXPECT_EQ(card.process(mutual_auth(0x11)), sw::kConditionsNotSatisfied);
}

TEST(HcCard, AuthenticatorGetsTheLastChallengeOnceAndTheHostData) {
    Bytes challenge, data;
    HcCard card(default_profile(), counting_random(),
                std::make_unique<RecordingAuthenticator>(&challenge, &data));
    card.process(kSelect);
    const Bytes answer = card.process(kGetChallenge);
    EXPECT_EQ(card.process(mutual_auth(0x33)), concat(Bytes(16, 0xAA), sw::kOk));
    EXPECT_EQ(challenge, Bytes(answer.begin(), answer.end() - 2));
    EXPECT_EQ(data, Bytes(kMutualAuthDataLength, 0x33));

    card.process(mutual_auth(0x34));
    EXPECT_TRUE(challenge.empty()) << "a challenge must not serve two attempts";

    card.process(kGetChallenge);
    card.process(kSelect);
    card.process(mutual_auth(0x35));
    EXPECT_TRUE(challenge.empty()) << "a SELECT in between voids the challenge";
}

TEST(HcCard, UnknownCommandsGetTheClosestRefusal) {
    HcCard card = make_card();
    card.process(kSelect);
    EXPECT_EQ(card.process(hex("00")), sw::kWrongLength);
    EXPECT_EQ(card.process(hex("00A404")), sw::kWrongLength);
    EXPECT_EQ(card.process(hex("80CA110002000000")), sw::kUnknownClass);
    EXPECT_EQ(card.process(hex("00B0000000")), sw::kUnknownInstruction);
    // SELECT of another application, and a SELECT with a short identifier.
    EXPECT_EQ(card.process(hex("00A4040010D1580000010000000000000000002200")), sw::kFileNotFound);
    EXPECT_EQ(card.process(hex("00A4040002D158")), sw::kWrongLength);
    EXPECT_EQ(card.process(hex("00CA990002000000")), sw::kDataNotFound);
    EXPECT_EQ(card.process(hex("00CA1100020000")), sw::kWrongLength);
    EXPECT_EQ(card.process(hex("0084000010")), sw::kWrongLength);
    EXPECT_EQ(card.process(hex("0084010008")), sw::kWrongParameters);
    Bytes short_auth = mutual_auth(0x00);
    short_auth.back() = 0x08;
    EXPECT_EQ(card.process(short_auth), sw::kWrongLength);
    Bytes other_p2 = mutual_auth(0x00);
    other_p2[3] = 0x13;
    EXPECT_EQ(card.process(other_p2), sw::kWrongParameters);
}

}  // namespace
}  // namespace vcard
