#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "card/apdu.h"
#include "cloud/relay.h"
#include "cloud/sam_session.h"
#include "common/error_codes.h"
#include "crypto/block_padding.h"
#include "crypto/key_material.h"
#include "tests/unit/fakes/fake_pcsc.h"
#include "tests/unit/fakes/fake_server.h"
#include "tests/unit/fakes/fake_stream.h"
#include "tests/unit/fakes/log_capture.h"

namespace qardex::cloud {
namespace {

using testing::FakePcsc;
using testing::FakeStream;
using testing::Ok;
using namespace testing;
using Bytes = std::vector<std::uint8_t>;

struct SessionTest : ::testing::Test {
  SessionTest() {
    ResetProxyBasicAuthSeenForTests();
    for (std::size_t i = 0; i < 16; ++i)
      request.clientRandom[i] = static_cast<std::uint8_t>('0' + i % 10);
    request.host = "auth.qardex.example";
    request.portText = "443";
    request.helloKey = crypto::BuildHelloKey();
    const std::string page = "PAGE-RANDOM-20-BYTES";
    std::copy(page.begin(), page.end(), request.pageRandom.begin());
    server.clientRandom = request.clientRandom;

    Bytes muAuth = {0x00, 0x82, 0x11, 0x12, 0x20};
    for (int i = 0; i < 32; ++i) muAuth.push_back(static_cast<std::uint8_t>(0xC0 + i));
    muAuth.push_back(0x10);
    pcsc.readers.push_back(
        {"Reader",
         true,
         {{Bytes(card::kReadHCId.begin(), card::kReadHCId.end()), Ok(kCardId)},
          {Bytes(card::kGetChallenge.begin(), card::kGetChallenge.end()), Ok(kChallenge)},
          {muAuth, Ok(kCardAnswer)}}});
    pcsc.Connect(0, "Reader", &cardHandle);
  }
  FakeStream& Peer() { return *connector.peer; }
  void ScriptFullServer() {
    Peer().Data(server.HelloReply()).Data(server.Reply02()).Data(server.FinalReply());
  }
  std::int32_t Run() {
    return cloud_sam_session(request, keys, connector, card::CardChannel{pcsc, cardHandle}, result);
  }
  Bytes Opened(std::size_t sendIndex, const crypto::TdeaKey& key) {
    const std::string& wire = Peer().sends.at(sendIndex);
    Bytes plain(wire.size(), 0);
    const std::size_t length = OpenMessage(reinterpret_cast<const std::uint8_t*>(wire.data()),
                                           wire.size(), key, plain.data(), plain.size());
    plain.resize(crypto::CheckedUnpadLength(plain.data(), length).value_or(0));
    return plain;
  }

  testing::LogCapture log;
  SessionRequest request;
  ServerScript server;
  FakeKeys keys;
  FakeConnector connector;
  FakePcsc pcsc;
  card::PcscCard cardHandle = 0;
  SessionResult result{};
};

TEST_F(SessionTest, FullDialogueSendsEveryMessageByteForByte) {
  ScriptFullServer();
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(connector.closes, 1);
  EXPECT_EQ(connector.host, "auth.qardex.example");
  EXPECT_EQ(connector.port, 443);
  EXPECT_EQ(keys.passphraseSeen.size(), 16u);
  EXPECT_EQ(keys.serverKeySeen, kServerKeyText);

  const auto& sends = Peer().sends;
  ASSERT_EQ(sends.size(), 4u);
  EXPECT_EQ(sends[0].size(), 283u);
  EXPECT_EQ(sends[1].size(), 136u);
  EXPECT_EQ(sends[2].size(), 43u);
  EXPECT_EQ(sends[3].size(), 59u);
  for (const std::string& message : sends) EXPECT_EQ(message.substr(message.size() - 3), "<E>");

  EXPECT_EQ(Opened(0, HelloTdeaKey(request.helloKey)), Plain("Hello " + kClientKeyText));
  EXPECT_EQ(sends[1].substr(0, 5), " 128 ");
  const crypto::TdeaKey sessionKey = server.SessionKeyFor();
  Bytes expected01 = Plain("01<id=12>");
  expected01.insert(expected01.end(), kCardId.begin(), kCardId.end());
  const Bytes rn = Plain("<rn=8>");
  expected01.insert(expected01.end(), rn.begin(), rn.end());
  expected01.insert(expected01.end(), kChallenge.begin(), kChallenge.end());
  expected01.push_back('<'), expected01.push_back('E'), expected01.push_back('>');
  EXPECT_EQ(Opened(2, sessionKey), expected01);
  Bytes expected03 = Plain("03<au=16>");
  expected03.insert(expected03.end(), kCardAnswer.begin(), kCardAnswer.end());
  const Bytes se = Plain("<se=20>PAGE-RANDOM-20-BYTES<E>");
  expected03.insert(expected03.end(), se.begin(), se.end());
  EXPECT_EQ(Opened(3, sessionKey), expected03);

  EXPECT_EQ(std::strlen(result.data()), 256u);
  EXPECT_EQ(result[0], 'R');
  EXPECT_FALSE(keys.passphraseLingered);
  const std::string text = log.Text();
  for (const char* line : {"Send Hello", "Remote InSAM_HC_AUTH OK!\r\n",
                           "Local MuAuthHC_DC_SAM OK!\r\n", "Remote ExSAM_HC_AUTH OK!\r\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
}

TEST_F(SessionTest, KeyTextsThatCannotBeWrittenStopBeforeConnecting) {
  keys.privateLength = 0;  // an empty text is no key
  EXPECT_EQ(Run(), common::kWritePrivateKeyFailed);
  keys.privateLength = -1;
  EXPECT_EQ(Run(), common::kWritePrivateKeyFailed);
  keys.privateLength = 900;
  keys.publicFails = true;
  EXPECT_EQ(Run(), common::kWritePublicKeyFailed);
  EXPECT_TRUE(Peer().sends.empty());
}

TEST_F(SessionTest, UnreachableServerIs4061) {
  connector.reachable = false;
  EXPECT_EQ(Run(), common::kServerUnreachable);
}

TEST_F(SessionTest, EachFailingSendHasItsCode) {
  const std::pair<int, std::int32_t> cases[] = {{0, common::kSendHelloFailed},
                                                {1, common::kSendKeyFailed},
                                                {2, common::kSendCardDataFailed},
                                                {3, common::kSendCardAnswerFailed}};
  for (const auto& [sendsBefore, code] : cases) {
    FakeConnector fresh;
    fresh.peer->Data(server.HelloReply()).Data(server.Reply02()).Data(server.FinalReply());
    fresh.peer->failSendsWith = 10054;
    fresh.peer->sendsBeforeFailure = sendsBefore;
    EXPECT_EQ(cloud_sam_session(request, keys, fresh, card::CardChannel{pcsc, cardHandle}, result),
              code)
        << sendsBefore;
    EXPECT_EQ(fresh.closes, 1);  // the socket is closed on every way out
  }
}

TEST_F(SessionTest, BadHelloRepliesAre8305) {
  Peer().Data("<E>");  // nothing but the trailer
  EXPECT_EQ(Run(), common::kBadHelloReply);

  for (const std::string& reply :
       {server.HelloReply("Howdy"), std::string("ab"), std::string(40, 'x') + "<E>"}) {
    FakeConnector fresh;
    fresh.peer->Data(reply);
    EXPECT_EQ(cloud_sam_session(request, keys, fresh, card::CardChannel{pcsc, cardHandle}, result),
              common::kBadHelloReply);
  }
  FakeConnector silent;
  silent.peer->Silence(30'000);
  EXPECT_EQ(cloud_sam_session(request, keys, silent, card::CardChannel{pcsc, cardHandle}, result),
            common::kBadHelloReply);

  keys.serverKeyReadable = false;  // an unreadable server key ends the exchange the same way
  FakeConnector unreadable;
  unreadable.peer->Data(server.HelloReply());
  EXPECT_EQ(
      cloud_sam_session(request, keys, unreadable, card::CardChannel{pcsc, cardHandle}, result),
      common::kBadHelloReply);
}

TEST_F(SessionTest, RsaFailuresAreLoggedWithTheirStep) {
  keys.decryptFails = true;
  Peer().Data(server.HelloReply());
  EXPECT_EQ(Run(), common::kPrivateDecryptFailed);
  keys.decryptFails = false;
  keys.encryptFails = true;
  FakeConnector fresh;
  fresh.peer->Data(server.HelloReply());
  EXPECT_EQ(cloud_sam_session(request, keys, fresh, card::CardChannel{pcsc, cardHandle}, result),
            common::kPublicEncryptFailed);
  EXPECT_EQ(keys.cryptoErrors,
            (std::vector<std::string>{"Private Decrypt failed ", "Public Encrypt failed "}));
}

TEST_F(SessionTest, CardRefusalsStopTheRelay) {
  auto& answers = pcsc.readers[0].answers;
  const Bytes readId(card::kReadHCId.begin(), card::kReadHCId.end());
  answers[readId] = {0x6A, 0x82};
  ScriptFullServer();
  EXPECT_EQ(Run(), common::kReadCardIdFailed);
}

TEST_F(SessionTest, ServerReplies02AndFinal) {
  const std::pair<std::string, std::int32_t> cases[] = {
      {server.Reply02(45), common::kBadServerReply02},
      {server.Reply02(44, "03"), common::kServerReplyNot02},
      {"<E>", common::kBadServerReply02}};
  for (const auto& [reply02, code] : cases) {
    FakeConnector fresh;
    fresh.peer->Data(server.HelloReply()).Data(reply02);
    EXPECT_EQ(cloud_sam_session(request, keys, fresh, card::CardChannel{pcsc, cardHandle}, result),
              code);
  }
  FakeConnector notOk;
  notOk.peer->Data(server.HelloReply()).Data(server.Reply02()).Data(server.FinalReply("NO"));
  EXPECT_EQ(cloud_sam_session(request, keys, notOk, card::CardChannel{pcsc, cardHandle}, result),
            common::kBadFinalReply);
  // "OK" with less than the whole result is no success: the page would get zero fill.
  for (const int shortResult : {0, 200, 250}) {
    FakeConnector cut;
    cut.peer->Data(server.HelloReply())
        .Data(server.Reply02())
        .Data(server.FinalReply("OK", 'R', shortResult));
    EXPECT_EQ(cloud_sam_session(request, keys, cut, card::CardChannel{pcsc, cardHandle}, result),
              common::kBadFinalReply)
        << shortResult;
  }
  FakeConnector closes;
  closes.peer->Data(server.HelloReply()).Data(server.Reply02()).Close();
  EXPECT_EQ(cloud_sam_session(request, keys, closes, card::CardChannel{pcsc, cardHandle}, result),
            common::kBadFinalReply);
}

TEST_F(SessionTest, ResultWithAZeroByteIsCutThere) {
  Peer().Data(server.HelloReply()).Data(server.Reply02()).Data(server.FinalReply("OK", '\0'));
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(std::strlen(result.data()), 0u);
}

TEST(SessionMessages, TheClientRandomIsWipedWithItsHolder) {
  alignas(SessionRequest) unsigned char storage[sizeof(SessionRequest)];
  auto* request = new (storage) SessionRequest;
  request->clientRandom.fill('7');
  request->helloKey.fill(0x55);
  const std::uint8_t* random = request->clientRandom.data();
  const std::uint8_t* hello = request->helloKey.data();
  request->~SessionRequest();
  const auto zero = [](std::uint8_t b) { return b == 0; };
  EXPECT_TRUE(std::all_of(random, random + kClientRandomLength, zero));
  EXPECT_TRUE(std::all_of(hello, hello + crypto::kHelloKeyLength, zero));
}

TEST(SessionMessages, SessionKeyAndPadding) {
  ClientRandom random{};
  random.fill('7');
  SessionKey key{};
  const std::uint8_t shortSecret[] = {1, 2, 3};
  compose_session_key(key, shortSecret, 3, random);
  EXPECT_EQ(key[15], '7');
  EXPECT_EQ(key[16], 1);
  EXPECT_EQ(key[18], 3);
  EXPECT_EQ(key[19], 0);  // zero where the secret is shorter
  const crypto::TdeaKey tdea = SessionTdeaKey(key);
  EXPECT_EQ(tdea[23], key[23]);

  // unpad_block8 reads only the last byte.
  std::uint8_t padded[16] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 8, 8, 8, 8, 8, 8, 8, 8};
  EXPECT_EQ(crypto::unpad_block8(padded, 16), 8u);
  std::uint8_t nine[8] = {0, 0, 0, 0, 0, 0, 0, 9};
  EXPECT_EQ(crypto::unpad_block8(nine, 8), 0u);
  std::uint8_t zero[8] = {1, 1, 1, 1, 1, 1, 1, 0};
  EXPECT_EQ(crypto::unpad_block8(zero, 8), 8u);
}

}  // namespace
}  // namespace qardex::cloud
