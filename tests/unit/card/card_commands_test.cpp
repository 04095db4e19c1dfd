#include <gtest/gtest.h>

#include "card/card_commands.h"
#include "tests/unit/fakes/fake_pcsc.h"
#include "tests/unit/fakes/log_capture.h"

namespace qardex::card {
namespace {

using testing::Bytes;
using testing::Concat;
using testing::FakePcsc;
using testing::LogCapture;
using testing::Ok;

template <std::size_t N>
Bytes Of(const std::array<std::uint8_t, N>& command) {
  return Bytes(command.begin(), command.end());
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A connected card whose answers the test fills in.
struct CardFixture : ::testing::Test {
  CardFixture() {
    pcsc.readers.push_back({"Reader", true, {}});
    EXPECT_EQ(pcsc.Connect(0, "Reader", &card), kPcscSuccess);
  }
  Bytes& Answer(const Bytes& command) { return pcsc.readers[0].answers[command]; }
  CardChannel Channel() { return CardChannel{pcsc, card}; }

  LogCapture log;
  FakePcsc pcsc;
  PcscCard card = 0;
  ResponseBuffer response;
};

TEST(CommandBytes, MatchTheCardApplicationLayout) {
  EXPECT_EQ(kSelectHC.size(), 21u);
  EXPECT_EQ(kSelectHC[4], 0x10);  // Lc 16: the identifier follows
  Bytes select31 = Of(kSelectHC);
  select31[19] = 0x31;
  EXPECT_EQ(Of(kSelectHC31), select31);
  EXPECT_EQ(Of(kReadHCId), (Bytes{0x00, 0xCA, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Of(kReadBasicData)[2], 0x11);
  EXPECT_EQ(Of(kReadHCCardData)[2], 0x24);
  EXPECT_EQ(kMuAuthHCLength, 38u);
}

TEST(CommandBytes, OnlyTrailing9000IsSuccess) {
  const std::uint8_t ok[] = {0x01, 0x90, 0x00};
  const std::uint8_t moreData[] = {0x61, 0x10};
  const std::uint8_t wrongLength[] = {0x6C, 0x39};
  EXPECT_TRUE(IsSuccessResponse(ok, 3));
  EXPECT_TRUE(IsSuccessResponse(ok + 1, 2));
  EXPECT_FALSE(IsSuccessResponse(ok, 2));
  EXPECT_FALSE(IsSuccessResponse(ok + 1, 1));
  EXPECT_FALSE(IsSuccessResponse(moreData, 2));
  EXPECT_FALSE(IsSuccessResponse(wrongLength, 2));
  EXPECT_FALSE(IsSuccessResponse(nullptr, 2));
}

TEST_F(CardFixture, SelectLogsOnlyOnSuccess) {
  EXPECT_EQ(SelectHC(Channel(), response), -1);  // unknown command: 6D 00
  EXPECT_EQ(log.Text(), "");
  Answer(Of(kSelectHC)) = Ok();
  Answer(Of(kSelectHC31)) = {0x6A, 0x82};
  EXPECT_EQ(SelectHC(Channel(), response), 0);
  EXPECT_EQ(response.length, 2u);
  EXPECT_EQ(SelectHC31(Channel(), response), -1);
  const std::string text = log.Text();
  EXPECT_NE(text.find("Select HC OK!\r\n"), std::string::npos);
  EXPECT_EQ(text.find("Select HC OK!"), text.rfind("Select HC OK!"));
}

TEST_F(CardFixture, ReadBasicDataEndsTheTextAtTheStatusWord) {
  const std::string basic = "000012345678" + std::string("Holder Name") + std::string(9, ' ') +
                            "A123456789" + "0650101" + "M" + "1080101";
  ASSERT_EQ(basic.size(), 57u);
  Answer(Of(kReadBasicData)) = Ok(Text(basic));
  ASSERT_EQ(ReadBasicData(Channel(), response), 0);
  EXPECT_EQ(response.length, 59u);
  EXPECT_EQ(std::string(response.Text()), basic);
  EXPECT_NE(log.Text().find("basic [" + basic + "]\r\n"), std::string::npos);
}

TEST_F(CardFixture, NulPaddedNameEndsTheLoggedText) {
  Bytes basic = Text("000012345678ABC");
  basic.resize(57, 0x00);
  Answer(Of(kReadBasicData)) = Ok(basic);
  ASSERT_EQ(ReadBasicData(Channel(), response), 0);
  EXPECT_NE(log.Text().find("basic [000012345678ABC]\r\n"), std::string::npos);
}

TEST_F(CardFixture, ShortAnswerNeverCarriesStaleBytes) {
  Answer(Of(kReadHCCardData)) = Ok(Text(std::string(57, 'Z')));
  ASSERT_EQ(ReadHCCardData(Channel(), response), 0);
  Answer(Of(kReadHCCardData)) = Ok(Text("SHORT"));
  ASSERT_EQ(ReadHCCardData(Channel(), response), 0);
  EXPECT_STREQ(response.Text(), "SHORT");
  for (std::size_t i = 5; i < response.bytes.size(); ++i) ASSERT_EQ(response.bytes[i], 0) << i;
}

// A 90 00 answer with fewer data bytes than the command returns is a failure:
// zero fill must never pass for card data.
TEST_F(CardFixture, AnswersShorterThanTheirRecordFail) {
  const std::array<std::uint8_t, kMuAuthDataSize> samData{};
  const Bytes muAuth = Concat({Of(kMuAuthHCHeader), Bytes(samData.begin(), samData.end()), {0x10}});
  struct Case {
    const char* name;
    Bytes command;
    std::size_t dataLength;
    int (*send)(const CardChannel&, ResponseBuffer&);
  };
  const Case cases[] = {
      {"ReadHCId", Of(kReadHCId), 12, ReadHCId},
      {"ReadBasicData", Of(kReadBasicData), 57, ReadBasicData},
      {"ReadHCCardData", Of(kReadHCCardData), 1, ReadHCCardData},
      {"GetChallenge", Of(kGetChallenge), 8, GetChallenge},
      {"MuAuthHC", muAuth, 16,
       [](const CardChannel& channel, ResponseBuffer& out) {
         return MuAuthHC(channel, out, std::array<std::uint8_t, kMuAuthDataSize>{});
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t logged = log.Text().size();
    Answer(c.command) = Ok(Text(std::string(c.dataLength - 1, '7')));
    EXPECT_EQ(c.send(Channel(), response), -1);
    EXPECT_EQ(log.Text().size(), logged);  // a failure logs nothing
    Answer(c.command) = Ok(Text(std::string(c.dataLength, '7')));
    EXPECT_EQ(c.send(Channel(), response), 0);
  }
}

TEST_F(CardFixture, ReadHCCardDataAndIdTreatments) {
  Answer(Of(kReadHCCardData)) = Ok(Text("1XYZ"));
  ASSERT_EQ(ReadHCCardData(Channel(), response), 0);
  EXPECT_STREQ(response.Text(), "1XYZ");
  // A longer identifier answer is cut to its first 12 characters.
  Answer(Of(kReadHCId)) = Ok(Text("ID0123456789EXTRA"));
  ASSERT_EQ(ReadHCId(Channel(), response), 0);
  EXPECT_STREQ(response.Text(), "ID0123456789");
  const std::string text = log.Text();
  EXPECT_NE(text.find("hc card data [1XYZ]\r\n"), std::string::npos);
  EXPECT_NE(text.find("HC ID [ID0123456789]\r\n"), std::string::npos);
}

TEST_F(CardFixture, ChallengeAndMutualAuthenticationAreLeftAsSent) {
  const Bytes challenge = {1, 2, 3, 4, 5, 6, 7, 8};
  Answer(Of(kGetChallenge)) = Ok(challenge);
  ASSERT_EQ(GetChallenge(Channel(), response), 0);
  EXPECT_EQ(response.length, 10u);
  EXPECT_EQ(Bytes(response.bytes.begin(), response.bytes.begin() + 10), Ok(challenge));

  std::array<std::uint8_t, kMuAuthDataSize> data{};
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(0xA0 + i);
  const Bytes command = Concat({Of(kMuAuthHCHeader), Bytes(data.begin(), data.end()), {0x10}});
  Answer(command) = Ok(Bytes(16, 0x5A));
  ASSERT_EQ(MuAuthHC(Channel(), response, data), 0);
  EXPECT_EQ(response.length, 18u);
  EXPECT_EQ(pcsc.sent.back().second, command);
  EXPECT_EQ(log.Text(), "");  // neither writes to the log
}

TEST_F(CardFixture, FailuresReturnMinusOneAndLogNothing) {
  Answer(Of(kReadBasicData)) = {0x61, 0x39};  // no GET RESPONSE is ever sent
  EXPECT_EQ(ReadBasicData(Channel(), response), -1);
  Answer(Of(kReadHCId)) = {0x90};  // fewer than two bytes
  EXPECT_EQ(ReadHCId(Channel(), response), -1);
  pcsc.transmitResult = testing::kNoSmartcard;
  Answer(Of(kGetChallenge)) = Ok(Bytes(8, 1));
  EXPECT_EQ(GetChallenge(Channel(), response), -1);
  EXPECT_EQ(log.Text(), "");
  EXPECT_EQ(pcsc.openCards, 1);  // the connection stays open for the caller
}

}  // namespace
}  // namespace qardex::card
