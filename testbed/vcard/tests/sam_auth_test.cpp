#include "testbed/vcard/sam_auth.h"

#include <gtest/gtest.h>

#include "testbed/vcard/card_config.h"
#include "testbed/vcard/status_words.h"

namespace vcard {
namespace {

Bytes hex(const char* text) { return *parse_hex(text); }

const Bytes kSelect = hex("00A4040010D1580000010000000000000000001100");
const Bytes kGetChallenge = hex("0084000008");

Bytes mutual_auth(const Bytes& data) {
    Bytes apdu = hex("0082111220");
    apdu.insert(apdu.end(), data.begin(), data.end());
    apdu.push_back(0x10);
    return apdu;
}

Bytes data_of(const Bytes& response) { return Bytes(response.begin(), response.end() - 2); }

// 00 01 02 ... so that consecutive challenges differ and the first one is known.
RandomBytes counting_random() {
    return [next = std::uint8_t{0}](std::size_t count) mutable {
        Bytes out(count);
        for (auto& b : out) b = next++;
        return out;
    };
}

HcCard card_with_secret(const CardProfile& profile) {
    return HcCard(profile, counting_random(),
                  std::make_unique<SharedSecretAuthenticator>(profile.card_id, profile.sam_secret));
}

// The digests are the contract with the test server (README.md); these values were computed with
// an independent SHA-256 for the default card (id 000012345678, secret HC-SAM-SHARED-01) and the
// challenge 00 01 .. 07.
TEST(SamAuth, DigestsMatchTheDocumentedConstruction) {
    const CardProfile profile = default_profile();
    const Bytes sam =
        expected_sam_data(profile.card_id, hex("0001020304050607"), profile.sam_secret);
    EXPECT_EQ(to_hex(sam), "4171F1570E005BEBCBCC9E277A2E3AB22DBF4AB16F96FCBAAB7B1FC5408151E7");
    EXPECT_EQ(to_hex(card_answer(sam, profile.sam_secret)), "5CE073783052C5C8B78A1150F64877D3");
}

TEST(SamAuth, CardAcceptsTheSamDataForItsLastChallengeOnce) {
    const CardProfile profile = default_profile();
    HcCard card = card_with_secret(profile);
    card.process(kSelect);
    card.process(kGetChallenge);  // an older challenge no longer counts
    const Bytes challenge = data_of(card.process(kGetChallenge));
    const Bytes sam = expected_sam_data(profile.card_id, challenge, profile.sam_secret);

    const Bytes response = card.process(mutual_auth(sam));
    ASSERT_EQ(response.size(), kCardAnswerLength + 2);
    EXPECT_EQ(Bytes(response.end() - 2, response.end()), sw::kOk);
    EXPECT_EQ(data_of(response), card_answer(sam, profile.sam_secret));
    // The challenge is used up: the same bytes again find no challenge.
    EXPECT_EQ(card.process(mutual_auth(sam)), sw::kConditionsNotSatisfied);
}

TEST(SamAuth, CardRefusesSamDataMadeForAnythingElse) {
    const CardProfile profile = default_profile();
    const Bytes& secret = profile.sam_secret;
    HcCard card = card_with_secret(profile);
    card.process(kSelect);
    const Bytes stale = data_of(card.process(kGetChallenge));
    card.process(kGetChallenge);
    EXPECT_EQ(card.process(mutual_auth(expected_sam_data(profile.card_id, stale, secret))),
              sw::kSecurityNotSatisfied);

    Bytes current = data_of(card.process(kGetChallenge));
    EXPECT_EQ(
        card.process(mutual_auth(expected_sam_data(bytes_of("000012345679"), current, secret))),
        sw::kSecurityNotSatisfied);

    current = data_of(card.process(kGetChallenge));
    EXPECT_EQ(card.process(mutual_auth(
                  expected_sam_data(profile.card_id, current, bytes_of("HC-SAM-SHARED-02")))),
              sw::kSecurityNotSatisfied);
}

TEST(SamAuth, NoChallengeOrAResetMeansNoAuthentication) {
    const CardProfile profile = default_profile();
    HcCard card = card_with_secret(profile);
    card.process(kSelect);
    EXPECT_EQ(card.process(mutual_auth(Bytes(kSamDataLength, 0))), sw::kConditionsNotSatisfied);

    const Bytes challenge = data_of(card.process(kGetChallenge));
    card.reset();
    card.process(kSelect);
    EXPECT_EQ(card.process(
                  mutual_auth(expected_sam_data(profile.card_id, challenge, profile.sam_secret))),
              sw::kConditionsNotSatisfied);
}

TEST(SamAuth, OnlyTheFirstTwelveBytesOfALongerIdentifierCount) {
    CardProfile profile = default_profile();
    profile.card_id = bytes_of("ABCDEFGHIJKLextra");
    HcCard card = card_with_secret(profile);
    card.process(kSelect);
    const Bytes challenge = data_of(card.process(kGetChallenge));
    const Bytes sam = expected_sam_data(bytes_of("ABCDEFGHIJKL"), challenge, profile.sam_secret);
    EXPECT_EQ(card.process(mutual_auth(sam)).size(), kCardAnswerLength + 2);
}

TEST(SamAuth, ProfileSetsTheSecretAndARefusalStillWins) {
    const auto parsed = parse_card_config(
        "sam_secret_hex = 00 11 22 33\n"
        "refuse.mutual_auth = 6982\n");
    ASSERT_TRUE(parsed.profile) << parsed.error;
    EXPECT_EQ(parsed.profile->sam_secret, hex("00112233"));
    HcCard card = card_with_secret(*parsed.profile);
    card.process(kSelect);
    const Bytes challenge = data_of(card.process(kGetChallenge));
    EXPECT_EQ(card.process(mutual_auth(expected_sam_data(parsed.profile->card_id, challenge,
                                                         parsed.profile->sam_secret))),
              sw::kSecurityNotSatisfied);

    EXPECT_EQ(parse_card_config("").profile->sam_secret, bytes_of(kDefaultSamSecret));
    EXPECT_EQ(parse_card_config("sam_secret = \"\"\n").error,
              "line 1: 'sam_secret' must not be empty");
    EXPECT_EQ(parse_card_config("sam_secret = " + std::string(65, 'x') + "\n").error,
              "line 1: 'sam_secret' has 65 bytes; at most 64 fit");
}

}  // namespace
}  // namespace vcard
