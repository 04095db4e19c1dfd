#include <gtest/gtest.h>

#include <ctime>

#include "card/apdu.h"
#include "cloud/relay.h"
#include "common/error_codes.h"
#include "crypto/card_ciphers.h"
#include "crypto/key_material.h"
#include "engine/error_catalogue.h"
#include "engine/random_generator.h"
#include "engine/session.h"
#include "tests/unit/fakes/fake_pcsc.h"
#include "tests/unit/fakes/fake_server.h"
#include "tests/unit/fakes/log_capture.h"

namespace qardex::engine {
namespace {

using namespace testing;

template <std::size_t N>
Bytes Of(const std::array<std::uint8_t, N>& command) {
  return Bytes(command.begin(), command.end());
}

const std::string kRecord = "000012345678" + std::string("NAME  ") + std::string(14, ' ') +
                            "A123456789"
                            "0650101"
                            "M"
                            "1080101";

// The system as the engine sees it, with a trace of the brackets it opens and closes.
class FakePlatform : public Platform {
 public:
  card::PcscApi& Pcsc() override { return pcsc; }
  int StartNetwork() override {
    trace += "net+ ";
    return networkResult;
  }
  void StopNetwork() override { trace += "net- "; }
  cloud::ServerConnector& Connector() override { return *connector; }
  void BeginCryptoUse() override { trace += "crypto+ "; }
  void EndCryptoUse() override { trace += "crypto- "; }
  std::unique_ptr<cloud::SessionKeys> NewSessionKeys() override {
    auto keys = std::make_unique<FakeKeys>();
    keys->onDestroy = [this] { trace += "keys- "; };
    return keys;
  }
  std::vector<std::string> ServerKeyPins() override { return pins; }
  // Hands out systemBytes over and over.
  bool SystemRandom(std::uint8_t* bytes, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i)
      bytes[i] = systemBytes[systemDrawn++ % systemBytes.size()];
    return systemRandomWorks;
  }
  std::string SystemMessage(std::int32_t code) override { return "system " + std::to_string(code); }
  crypto::CalendarDate UtcDate() override { return utc; }
  crypto::CalendarDate LocalDate() override { return local; }

  FakePcsc pcsc;
  std::unique_ptr<FakeConnector> connector = std::make_unique<FakeConnector>();
  int networkResult = 0;
  std::string trace;
  std::vector<std::string> pins;
  // 0, 9998, a value that would bias the digits (drawn again), 1234, 5678.
  Bytes systemBytes = {0x00, 0x00, 0x27, 0x0E, 0xEA, 0x5A, 0x04, 0xD2, 0x16, 0x2E};
  static constexpr char kSystemDigits[] = "0000999812345678";
  std::size_t systemDrawn = 0;
  bool systemRandomWorks = true;
  crypto::CalendarDate utc{2024, 1, 31};
  crypto::CalendarDate local{2024, 2, 1};
};

struct OperationsTest : ::testing::Test {
  OperationsTest() {
    cloud::ResetProxyBasicAuthSeenForTests();
    Bytes muAuth = {0x00, 0x82, 0x11, 0x12, 0x20};
    for (int i = 0; i < 32; ++i) muAuth.push_back(static_cast<std::uint8_t>(0xC0 + i));
    muAuth.push_back(0x10);
    platform.pcsc.readers.push_back({"Empty", false, {}});
    platform.pcsc.readers.push_back(
        {"Reader",
         true,
         {{Of(card::kSelectHC), Ok()},
          {Of(card::kSelectHC31), Ok()},
          {Of(card::kReadBasicData), Ok(Bytes(kRecord.begin(), kRecord.end()))},
          {Of(card::kReadHCCardData), Ok({'1'})},
          {Of(card::kReadHCId), Ok(kCardId)},
          {Of(card::kGetChallenge), Ok(kChallenge)},
          {muAuth, Ok(kCardAnswer)}}});
  }
  FakeReader& Card() { return platform.pcsc.readers[1]; }
  // Signs with a server scripted for the client random the fake system generator gives; its
  // "02" reply comes in `pieces`, each after its share of `reply02Ms` of silence.
  std::string SignWithServer(int reply02Ms = 0, int pieces = 1) {
    ServerScript server;
    std::copy_n(FakePlatform::kSystemDigits, server.clientRandom.size(),
                server.clientRandom.begin());
    platform.connector = std::make_unique<FakeConnector>();
    FakeStream& peer = platform.connector->peer->Data(server.HelloReply());
    const std::string reply02 = server.Reply02();
    const std::size_t step = reply02.size() / pieces + 1;
    for (std::size_t at = 0; at < reply02.size(); at += step)
      peer.Silence(reply02Ms / pieces).Data(reply02.substr(at, step));
    peer.Data(server.FinalReply());
    platform.trace.clear();
    platform.systemDrawn = 0;
    return session.H_Sign({"PAGE-RANDOM", 11});
  }
  void ExpectClosed() {
    EXPECT_EQ(platform.pcsc.openCards, 0);
    EXPECT_EQ(platform.pcsc.openContexts, 0);
  }
  std::size_t TimesSent(const Bytes& command) {
    return platform.pcsc.timesSent[{"Reader", command}];
  }

  LogCapture log;
  FakePlatform platform;
  Session session{platform};
};

TEST_F(OperationsTest, SignRunsTheWholeDialogueThenEndsWithSelectHC31) {
  session.GetHCConnectNo();
  Card().hasCard = true;
  const std::string result = SignWithServer();
  EXPECT_EQ(result.substr(0, 3), "RST");
  EXPECT_EQ(result.size(), 256u);
  EXPECT_GE(TimesSent(Of(card::kSelectHC31)), 1u);
  EXPECT_EQ(session.GetLastError(), 0);  // a success leaves lastError as it was
  EXPECT_EQ(platform.trace, "net+ crypto+ keys- crypto- net- ");
  EXPECT_NE(log.Text().find("Ret = 0\r\n"), std::string::npos);
  ExpectClosed();
}

// The secret half of the session key comes from the system; the control's own generator draws
// exactly as before, so the digits GetRandom gives after an H_Sign do not change.
TEST_F(OperationsTest, SignTakesTheClientRandomFromTheSystemAndLeavesTheGeneratorAsItWas) {
  Card().hasCard = true;
  int expected = 0, drawn = -1;
  for (int attempt = 0; attempt < 3 && expected != drawn; ++attempt) {  // a second's edge
    SeedRandomWithTime();
    RandomDigits16();
    expected = NextRandom();
    EXPECT_EQ(SignWithServer().substr(0, 3), "RST");
    drawn = NextRandom();
  }
  EXPECT_EQ(drawn, expected);

  platform.systemRandomWorks = false;
  EXPECT_EQ(SignWithServer(), "8303");
  EXPECT_NE(log.Text().find("System random failed\r\n"), std::string::npos);
  EXPECT_TRUE(platform.connector->host.empty());  // nothing went out
  ExpectClosed();
}

// The administrator's pin list decides whether the server's key gets the client random.
TEST_F(OperationsTest, SignUsesOnlyAServerKeyOnTheAdministratorsPinList) {
  std::string upper = kServerKeyDigest;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string other(64, '0');
  const std::pair<std::vector<std::string>, bool> cases[] = {
      // refusals last: the log grows
      {{}, true},
      {{kServerKeyDigest}, true},
      {{" " + upper + "\t"}, true},
      {{other, kServerKeyDigest}, true},  // a key being rolled over
      {{other}, false},
      {{"not a digest", "", kServerKeyDigest + "0"}, false},  // only malformed entries
  };
  const std::size_t helloOnly =
      cloud::BuildHello(kClientKeyText, cloud::HelloTdeaKey(crypto::BuildHelloKey())).size();
  Card().hasCard = true;
  for (const auto& [pins, accepted] : cases) {
    platform.pins = pins;
    const std::string result = SignWithServer();
    EXPECT_EQ(result.size(), accepted ? 256u : 4u) << pins.size() << " pins: " << result;
    EXPECT_EQ(log.Text().find("Server key " + kServerKeyDigest + " is not in the pin list\r\n") !=
                  std::string::npos,
              !accepted);
    if (!accepted) {
      EXPECT_EQ(result, "8303");
      EXPECT_EQ(platform.connector->peer->sent.size(), helloOnly);  // no key message
    }
  }
  ExpectClosed();
}

TEST_F(OperationsTest, SignFailuresSetLastErrorAndSkipSelectHC31) {
  platform.connector->reachable = false;
  EXPECT_EQ(session.H_Sign({}), "4061");
  EXPECT_EQ(session.GetLastError(), common::kServerUnreachable);
  Card().hasCard = false;
  EXPECT_EQ(session.H_Sign({}), "7004");
  EXPECT_EQ(session.GetLastError(), common::kNoCardInReaders);
  EXPECT_EQ(TimesSent(Of(card::kSelectHC31)), 0u);
  EXPECT_EQ(log.Text().find("Ret = "), std::string::npos);
  ExpectClosed();
}

// Windows resets a card whose transaction sees no card call for 5 s; the call holds the card
// through server replies that take longer, whether they come late or trickle in all along.
TEST_F(OperationsTest, SignKeepsTheCardThroughSlowServerReplies) {
  platform.pcsc.clock = [this] { return platform.connector->peer->now; };
  Card().hasCard = true;
  for (const int pieces : {1, 16}) {
    platform.pcsc.longestIdleInTransactionMs = 0;
    EXPECT_EQ(SignWithServer(8'000, pieces).substr(0, 3), "RST") << pieces;
    EXPECT_LE(platform.pcsc.longestIdleInTransactionMs, 2'000) << pieces;
  }
  ExpectClosed();
}

// The smart-card service stopping under an open context (Windows does when the last reader
// goes) costs a new context and the step once more; stopping again is that step's failure.
TEST_F(OperationsTest, CardMethodsRenewAContextTheServiceLostOnce) {
  const auto run = [this](int method) {
    if (method == 0) return session.GetReaders();
    return method == 1 ? std::to_string(session.GetHCConnectNo()) : session.GetBasic();
  };
  const std::pair<int, const char*> cases[] = {{0, "size"}, {0, "list"},
                                               {1, "size"}, {1, "connect Reader"},
                                               {2, "list"}, {2, "connect Reader"}};
  for (const card::PcscStatus code : {card::kPcscServiceStopped, card::kPcscNoService}) {
    platform.pcsc.serviceStopResult = code;
    for (const auto& [method, step] : cases) {
      const std::string undisturbed = run(method);
      platform.pcsc.serviceStopsBefore = {step};
      EXPECT_EQ(run(method), undisturbed) << step;
      platform.pcsc.serviceStopsBefore = {step, step};
      EXPECT_NE(run(method), undisturbed) << step;
    }
  }
  ExpectClosed();
}

TEST_F(OperationsTest, NetworkThatWillNotStartIsReportedWithoutTouchingLastError) {
  platform.networkResult = 10091;
  EXPECT_EQ(session.H_Sign({}), "10091");
  EXPECT_EQ(session.ServiceStatus(), 10091);
  EXPECT_EQ(session.GetLastError(), 0);
  EXPECT_EQ(platform.trace, "net+ net+ ");  // nothing to stop, no card touched
  EXPECT_TRUE(platform.pcsc.calls.empty());
}

TEST_F(OperationsTest, ServiceStatusConnectsAndLetsGo) {
  EXPECT_EQ(session.ServiceStatus(), 0);
  EXPECT_EQ(platform.connector->closes, 1);
  EXPECT_EQ(platform.connector->host, "auth.qardex.example");
  EXPECT_EQ(platform.connector->port, 443);
  platform.connector->reachable = false;
  EXPECT_EQ(session.ServiceStatus(), common::kServerUnreachable);
  EXPECT_EQ(session.GetLastError(), common::kServerUnreachable);
}

TEST_F(OperationsTest, BasicDataFailureIsRememberedUntilTheNextRead) {
  platform.pcsc.sequences[{"Reader", Of(card::kReadBasicData)}] = {
      {0x6A, 0x82}, Ok(Bytes(kRecord.begin(), kRecord.end()))};
  EXPECT_EQ(session.GetBasic(), "8011");
  EXPECT_EQ(session.GetLastError(), common::kReadBasicDataFailed);
  EXPECT_EQ(session.GetBasic(),
            "000012345678,A123456789,NAME" + std::string(16, ' ') + ",0650101,M,1");
  EXPECT_EQ(session.GetLastError(), 0);
  EXPECT_EQ(session.GetName(), "NAME");
  ExpectClosed();
}

TEST_F(OperationsTest, ScanResultAndReaderList) {
  EXPECT_EQ(session.GetHCConnectNo(), 1);
  EXPECT_EQ(session.GetReaders(), "Empty,Reader");
  Card().hasCard = false;
  EXPECT_EQ(session.GetHCConnectNo(), -1);
  EXPECT_EQ(session.GetLastError(), common::kNoCardInReaders);
  platform.pcsc.readers.clear();
  EXPECT_EQ(session.GetReaders(), "N/A");
  ExpectClosed();
}

TEST_F(OperationsTest, EnCryptCountsUtf16UnitsAndKeepsAnEarlierCodeOnSuccess) {
  struct Case {
    PageText input;
    bool accepted;
  };
  const Case cases[] = {{{"12345", 5}, false},
                        {{"123456", 6}, true},
                        {{"123456789012", 12}, true},
                        {{"1234567890123", 13}, false},
                        {{std::string(12, '\xA4'), 6}, true}};  // six double-byte characters
  for (const Case& c : cases) {
    const std::string result = session.EnCrypt(c.input);
    EXPECT_EQ(result == "8009", !c.accepted) << c.input.ansi;
    EXPECT_EQ(result.size() % 16, c.accepted ? 0u : 4u) << c.input.ansi;
    EXPECT_EQ(session.GetLastError(), common::kWrongInputLength);  // set once, then kept
  }
}

TEST_F(OperationsTest, EncipheredResultsOpenWithTheKeysOfTheirDates) {
  const crypto::Deciphered secure = crypto::DecipherBasicText(session.SecureGetBasicWithParam({}),
                                                              crypto::BuildDateKey(platform.utc));
  EXPECT_TRUE(secure.ok());
  EXPECT_EQ(secure.bytes, session.GetBasic());
  crypto::CardNumber number{};
  std::copy_n(kRecord.begin(), number.size(), number.begin());
  const crypto::Deciphered page = crypto::DecipherPageString(
      session.EnCrypt({"123456", 6}), crypto::BuildCardKey(number, platform.local));
  EXPECT_TRUE(page.ok());
  EXPECT_EQ(page.bytes, "123456");
}

TEST_F(OperationsTest, MessagesComeFromTheCatalogueThenTheSystem) {
  EXPECT_EQ(session.ZEL_FormatMessage({"8009", 4}), CatalogueText(common::kWrongInputLength));
  EXPECT_EQ(session.ZEL_FormatMessage({"5", 1}), "system 5");
  EXPECT_EQ(session.ZEL_FormatMessage({"123456", 6}), kParameterErrorText);
  EXPECT_EQ(session.ZEL_FormatMessage({"12", 6}), kParameterErrorText);  // units decide
}

}  // namespace
}  // namespace qardex::engine
