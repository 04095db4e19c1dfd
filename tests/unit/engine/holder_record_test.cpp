#include <gtest/gtest.h>

#include "card/apdu.h"
#include "common/error_codes.h"
#include "engine/error_catalogue.h"
#include "engine/holder_record.h"
#include "tests/unit/fakes/fake_pcsc.h"
#include "tests/unit/fakes/log_capture.h"

namespace qardex::engine {
namespace {

using namespace common;

using testing::Bytes;
using testing::FakePcsc;
using testing::Ok;

template <std::size_t N>
Bytes Of(const std::array<std::uint8_t, N>& command) {
  return Bytes(command.begin(), command.end());
}

const std::string kRecord =
    "000012345678"
    "\xB3\xAF\xA4\x6A\xA9\xFA" +
    std::string(14, ' ') +
    "A123456789"
    "0650101"
    "M"
    "1080101";

struct HolderRecordTest : ::testing::Test {
  HolderRecordTest() {
    pcsc.readers.push_back({"Reader",
                            true,
                            {{Of(card::kSelectHC), Ok()},
                             {Of(card::kReadBasicData), Ok(Bytes(kRecord.begin(), kRecord.end()))},
                             {Of(card::kReadHCCardData), Ok({'1', 0x00, 0x42})}}});
  }
  Bytes& Answer(const Bytes& command) { return pcsc.readers[0].answers[command]; }
  void ExpectClosed() {
    EXPECT_EQ(pcsc.openCards, 0);
    EXPECT_EQ(pcsc.openContexts, 0);
    EXPECT_EQ(pcsc.openTransactions, 0);
    EXPECT_EQ(pcsc.disconnectsInTransaction, 0);
    EXPECT_EQ(pcsc.transmitsOutsideTransaction, 0);  // SELECT and reads in one transaction
  }

  testing::LogCapture log;
  FakePcsc pcsc;
  HolderRecord record;
};

TEST_F(HolderRecordTest, ReadsBothRecordsAndClosesTheCard) {
  ASSERT_EQ(kRecord.size(), 57u);
  EXPECT_EQ(ReadHolderRecord(pcsc, record), 0);
  EXPECT_EQ(
      FormatBasicText(record.fields, record.cardDataFlag),
      "000012345678,A123456789,\xB3\xAF\xA4\x6A\xA9\xFA" + std::string(14, ' ') + ",0650101,M,1");
  ExpectClosed();
  const std::string text = log.Text();
  EXPECT_NE(text.find("basic [" + kRecord + "]\r\n"), std::string::npos);
  EXPECT_NE(text.find("hc card data [1]\r\n"), std::string::npos);
}

TEST_F(HolderRecordTest, FirstFailingStepDecidesTheCode) {
  Answer(Of(card::kReadHCCardData)) = {0x6A, 0x82};
  EXPECT_EQ(ReadHolderRecord(pcsc, record), kReadCardDataFailed);
  ExpectClosed();
  Answer(Of(card::kReadBasicData)) = {0x69, 0x82};
  EXPECT_EQ(ReadHolderRecord(pcsc, record), kReadBasicDataFailed);
  ExpectClosed();
  // Any failure to open the card is 8013, whatever the scan said.
  Answer(Of(card::kSelectHC)) = {0x6A, 0x82};
  EXPECT_EQ(ReadHolderRecord(pcsc, record), kCannotOpenCard);
  pcsc.establishResult = testing::kNoService;
  EXPECT_EQ(ReadHolderRecord(pcsc, record), kCannotOpenCard);
  pcsc.establishResult = card::kPcscSuccess;
  Answer(Of(card::kSelectHC)) = Ok();
  pcsc.beginResult = testing::kNoSmartcard;  // the card cannot be held for the reads
  EXPECT_EQ(ReadHolderRecord(pcsc, record), kCannotOpenCard);
  ExpectClosed();
}

TEST_F(HolderRecordTest, CardDataReadCanBeSkipped) {
  Answer(Of(card::kReadHCCardData)) = {0x6A, 0x82};
  EXPECT_EQ(ReadHolderRecord(pcsc, record, CardDataRead::Skipped), 0);
  for (const auto& [reader, command] : pcsc.sent) EXPECT_NE(command, Of(card::kReadHCCardData));
}

}  // namespace
}  // namespace qardex::engine
