#include "testbed/authserver/messages.h"

#include <gtest/gtest.h>

#include "testbed/authserver/rsa_keys.h"
#include "testbed/authserver/sam.h"

namespace authserver {
namespace {

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string text_at(const Bytes& bytes, std::size_t offset, std::size_t length) {
    return std::string(bytes.begin() + offset, bytes.begin() + offset + length);
}

const TdesKey kKey = {'1', '2', '3', '4', '5', '6', '7', '8', '9', '0', '1', '2',
                      '3', '4', '5', '6', 's', 'e', 'c', 'r', 'e', 't', '!', '?'};

// What the control sends: the plaintext padded, enciphered, and the trailer.
Bytes client_message(const std::string& plaintext) {
    return seal(kKey, pad_block8(bytes_of(plaintext)));
}

// The deciphered reply as the control reads it (no unpadding).
Bytes deciphered(const Bytes& wire) {
    const auto plain = open_sealed(kKey, wire);
    EXPECT_TRUE(plain.value) << plain.error;
    return plain.value.value_or(Bytes{});
}

class Messages : public ::testing::Test {
 protected:
    static void SetUpTestSuite() { key_ = std::make_unique<RsaKey>(*RsaKey::generate()); }
    static void TearDownTestSuite() { key_.reset(); }
    static std::unique_ptr<RsaKey> key_;
};
std::unique_ptr<RsaKey> Messages::key_;

TEST_F(Messages, HelloCarriesTheClientsPemText) {
    const std::string pem = key_->public_pem();
    ASSERT_EQ(pem.size(), kPemLength);
    const Bytes wire = client_message("Hello " + pem);
    ASSERT_EQ(wire.size(), kHelloWireLength);
    const auto parsed = parse_hello(wire, kKey);
    EXPECT_EQ(parsed.value, pem) << parsed.error;

    EXPECT_EQ(parse_hello(client_message("Hallo " + pem), kKey).error, "hello: no \"Hello \"");
    EXPECT_EQ(parse_hello(client_message("Hello " + pem + "+"), kKey).error,
              "hello: 279 bytes after unpadding, expected 278");
    Bytes no_trailer = wire;
    no_trailer.back() = 'X';
    EXPECT_EQ(parse_hello(no_trailer, kKey).error, "hello: no trailer");
}

TEST_F(Messages, HelloReplyPutsKeyAndSecretBlockAtTheirOffsets) {
    const std::string pem = key_->public_pem();
    const Bytes block = *key_->encrypt(bytes_of("0123456789abcdefSECRET!!"));
    const Bytes wire = build_hello_reply(pem, block, kKey, HelloReplyFault::kNone);
    EXPECT_EQ(wire.size(), 416u + kTrailerLength);
    const Bytes plain = deciphered(wire);
    EXPECT_EQ(text_at(plain, 0, 5), "Hello");
    EXPECT_EQ(text_at(plain, 6, kPemLength), pem);
    EXPECT_EQ(Bytes(plain.begin() + 283, plain.begin() + 411), block);
    EXPECT_EQ(unpad_block8(plain)->size(), 411u);
    EXPECT_EQ(key_->decrypt(Bytes(plain.begin() + 283, plain.begin() + 411)),
              bytes_of("0123456789abcdefSECRET!!"));
}

TEST_F(Messages, HelloReplyFaultsBreakOnlyWhatTheyName) {
    const std::string pem = key_->public_pem();
    const Bytes block(kRsaBlockLength, 0x42);
    const Bytes bad_padding =
        deciphered(build_hello_reply(pem, block, kKey, HelloReplyFault::kBadPadding));
    EXPECT_EQ(bad_padding.back(), 9);
    EXPECT_EQ(text_at(bad_padding, 0, 5), "Hello");

    const Bytes not_hello =
        deciphered(build_hello_reply(pem, block, kKey, HelloReplyFault::kNotHello));
    EXPECT_NE(text_at(not_hello, 0, 5), "Hello");
    EXPECT_TRUE(unpad_block8(not_hello));

    const Bytes bad_key =
        deciphered(build_hello_reply(pem, block, kKey, HelloReplyFault::kBadKeyText));
    EXPECT_EQ(text_at(bad_key, 0, 5), "Hello");
    EXPECT_FALSE(RsaKey::from_public_pem(text_at(bad_key, 6, kPemLength)));
    EXPECT_TRUE(RsaKey::from_public_pem(pem));
}

TEST_F(Messages, KeyMessageLengthComesFromItsHeader) {
    EXPECT_EQ(key_message_length(Bytes{}), std::nullopt);
    EXPECT_EQ(key_message_length(bytes_of(" 12")), std::nullopt);
    EXPECT_EQ(key_message_length(bytes_of(" 128 ")), 5u + 128 + 3);
    EXPECT_EQ(key_message_length(bytes_of("128 ")), 0u);
    EXPECT_EQ(key_message_length(bytes_of(" 12345 ")), 0u);
    EXPECT_EQ(key_message_length(bytes_of("  ")), 0u);

    const Bytes block = *key_->encrypt(bytes_of("1234567890123456"));
    Bytes wire = bytes_of(" 128 ");
    wire.insert(wire.end(), block.begin(), block.end());
    wire.insert(wire.end(), {'<', 'E', '>'});
    const auto parsed = parse_key_message(wire);
    ASSERT_TRUE(parsed.value) << parsed.error;
    EXPECT_EQ(key_->decrypt(*parsed.value), bytes_of("1234567890123456"));
    wire.pop_back();
    EXPECT_FALSE(parse_key_message(wire).value);
}

TEST(MessageFields, Request01GivesIdentifierAndChallenge) {
    const auto parsed =
        parse_request01(client_message("01<id=12>000012345678<rn=8>ABCDEFGH<E>"), kKey);
    ASSERT_TRUE(parsed.value) << parsed.error;
    EXPECT_EQ(parsed.value->card_id, bytes_of("000012345678"));
    EXPECT_EQ(parsed.value->challenge, bytes_of("ABCDEFGH"));
    EXPECT_EQ(client_message("01<id=12>000012345678<rn=8>ABCDEFGH<E>").size(),
              kRequest01WireLength);
    EXPECT_EQ(parse_request01(client_message("01<id=12>000012345678<rn=9>ABCDEFGH<E>"), kKey).error,
              "01: fields not where expected");
    EXPECT_EQ(parse_request01(client_message("01<id=12>00001234567<rn=8>ABCDEFGH<E>"), kKey).error,
              "01: 37 bytes after unpadding, expected 38");
}

TEST(MessageFields, Request03GivesCardAnswerAndPageRandom) {
    const std::string page_random("abc\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 20);
    const Bytes wire = client_message("03<au=16>ANSWER-16-BYTES!<se=20>" + page_random + "<E>");
    ASSERT_EQ(wire.size(), kRequest03WireLength);
    const auto parsed = parse_request03(wire, kKey);
    ASSERT_TRUE(parsed.value) << parsed.error;
    EXPECT_EQ(parsed.value->answer, bytes_of("ANSWER-16-BYTES!"));
    EXPECT_EQ(parsed.value->page_random, bytes_of(page_random));
}

TEST(MessageFields, Reply02Is44BytesWithTheSamDataAtNine) {
    const Bytes sam(kSamDataLength, 0x5A);
    const Bytes plain = deciphered(build_reply02(sam, kKey, Reply02Fault::kNone));
    const auto unpadded = unpad_block8(plain);
    ASSERT_TRUE(unpadded);
    EXPECT_EQ(unpadded->size(), 44u);
    EXPECT_EQ(text_at(*unpadded, 0, 2), "02");
    EXPECT_EQ(Bytes(unpadded->begin() + 9, unpadded->begin() + 41), sam);

    EXPECT_EQ(unpad_block8(deciphered(build_reply02(sam, kKey, Reply02Fault::kLength45)))->size(),
              45u);
    const Bytes not02 = deciphered(build_reply02(sam, kKey, Reply02Fault::kNot02));
    EXPECT_NE(text_at(not02, 0, 2), "02");
    EXPECT_EQ(unpad_block8(not02)->size(), 44u);
}

TEST(MessageFields, FinalReplyHasOkAtEightAndTheResultAtEighteen) {
    const std::string result = sam_result(bytes_of("000012345678"), Bytes(20, '7'));
    const Bytes wire = build_final_reply(true, result, kKey);
    EXPECT_LE(wire.size(), 400u) << "the control's buffer for the final reply";
    const Bytes plain = deciphered(wire);
    EXPECT_EQ(text_at(plain, 8, 2), "OK");
    EXPECT_EQ(text_at(plain, 18, 256), result);
    EXPECT_EQ(text_at(deciphered(build_final_reply(false, result, kKey)), 8, 2), "NO");
}

TEST(Sam, DigestsAgreeWithTheVirtualCardsDocumentedValues) {
    // testbed/vcard/tests/sam_auth_test.cpp pins the same values for the card's side.
    std::vector<std::uint8_t> challenge = {0, 1, 2, 3, 4, 5, 6, 7};
    const Bytes secret = bytes_of(kDefaultCardSecret);
    const Bytes sam = sam_authentication_data(bytes_of("000012345678"), challenge, secret);
    EXPECT_EQ(hex_upper(sam), "4171F1570E005BEBCBCC9E277A2E3AB22DBF4AB16F96FCBAAB7B1FC5408151E7");
    EXPECT_EQ(hex_upper(expected_card_answer(sam, secret)), "5CE073783052C5C8B78A1150F64877D3");
}

TEST(Sam, ResultIs256HexCharactersThatDependOnCardAndPageRandom) {
    const std::string result = sam_result(bytes_of("000012345678"), Bytes(20, 0));
    ASSERT_EQ(result.size(), kResultLength);
    EXPECT_EQ(result.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_NE(result, sam_result(bytes_of("000012345679"), Bytes(20, 0)));
    Bytes other(20, 0);
    other[19] = 1;
    EXPECT_NE(result, sam_result(bytes_of("000012345678"), other));
}

}  // namespace
}  // namespace authserver
