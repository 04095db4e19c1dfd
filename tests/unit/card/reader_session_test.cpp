#include <gtest/gtest.h>

#include <thread>

#include "card/apdu.h"
#include "card/reader_session.h"
#include "common/error_codes.h"
#include "tests/unit/fakes/fake_pcsc.h"
#include "tests/unit/fakes/log_capture.h"

namespace qardex::card {
namespace {

using testing::Bytes;
using testing::FakePcsc;
using testing::FakeReader;
using testing::LogCapture;
using testing::Ok;

const Bytes kSelect(kSelectHC.begin(), kSelectHC.end());

FakeReader WithHCCard(const std::string& name) { return {name, true, {{kSelect, Ok()}}}; }
FakeReader Empty(const std::string& name) { return {name, false, {}}; }

struct ScanTest : ::testing::Test {
  int Find() {
    CardSession session(pcsc);
    index = -1;
    const std::int32_t status = FindHCReader(session, index);
    EXPECT_FALSE(session.hasCard());
    return status;
  }
  void ExpectAllClosed() {
    EXPECT_EQ(pcsc.openCards, 0);
    EXPECT_EQ(pcsc.openContexts, 0);
    EXPECT_EQ(pcsc.openTransactions, 0);
    EXPECT_EQ(pcsc.disconnectsInTransaction, 0);  // always ended before disconnecting
  }

  LogCapture log;
  FakePcsc pcsc;
  int index = -1;
};

TEST_F(ScanTest, CardInTheSecondReaderIsFoundAtIndexOne) {
  pcsc.readers = {Empty("Reader A 00 00"), WithHCCard("Reader B 00 01")};
  EXPECT_EQ(Find(), kScanOk);
  EXPECT_EQ(index, 1);
  ExpectAllClosed();
  const std::string text = log.Text();
  EXPECT_NE(text.find("Reader A 00 00\r\n"), std::string::npos);
  EXPECT_NE(text.find("Reader B 00 01\r\n"), std::string::npos);
  EXPECT_NE(text.find("Select HC OK!"), std::string::npos);
}

TEST_F(ScanTest, FirstReaderWinsWhenBothHoldCards) {
  pcsc.readers = {WithHCCard("A"), WithHCCard("B")};
  EXPECT_EQ(Find(), kScanOk);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(log.Text().find(" B\r\n"), std::string::npos);  // never reached
}

TEST_F(ScanTest, RefusedSelectCountsAsNoCardAndIsDisconnected) {
  FakeReader refusing{"Refusing", true, {{kSelect, {0x6A, 0x82}}}};
  pcsc.readers = {refusing};
  EXPECT_EQ(Find(), common::kNoCardInReaders);
  ExpectAllClosed();
  EXPECT_EQ(pcsc.calls, (std::vector<std::string>{"establish", "size", "list", "connect Refusing",
                                                  "disconnect", "release"}));
}

TEST_F(ScanTest, EachFailingStepHasItsCode) {
  pcsc.readers = {Empty("A"), Empty("B")};
  EXPECT_EQ(Find(), common::kNoCardInReaders);
  pcsc.readers.clear();  // PC/SC refuses to size an empty list
  EXPECT_EQ(Find(), common::kCannotSizeReaderList);
  pcsc.readers = {WithHCCard("A")};
  pcsc.listResult = testing::kNoService;
  EXPECT_EQ(Find(), common::kCannotReadReaderList);
  pcsc.establishResult = testing::kNoService;
  EXPECT_EQ(Find(), common::kNoPcscContext);
  ExpectAllClosed();
}

TEST_F(ScanTest, FailedDisconnectIsReportedWithItsPcscCode) {
  pcsc.readers = {WithHCCard("A")};
  pcsc.disconnectResult = testing::kInvalidHandle;
  EXPECT_EQ(Find(), testing::kInvalidHandle);
  EXPECT_EQ(index, 0);
}

TEST_F(ScanTest, OpenKeepsTheCardUntilClosed) {
  pcsc.readers = {Empty("A"), WithHCCard("B")};
  CardSession session(pcsc);
  ASSERT_EQ(OpenHCCard(session), kScanOk);
  EXPECT_TRUE(session.hasCard());
  EXPECT_EQ(pcsc.openCards, 1);
  CloseHCCard(session);
  ExpectAllClosed();
  CloseHCCard(session);  // closing twice is harmless
  ExpectAllClosed();
}

// From SelectHC to the close, no other client's command can come between ours.
TEST_F(ScanTest, OpenHoldsTheCardFromSelectUntilClosed) {
  FakeReader refusing{"Refusing", true, {{kSelect, {0x6A, 0x82}}}};
  pcsc.readers = {refusing, WithHCCard("B")};
  {
    CardSession session(pcsc);
    ASSERT_EQ(OpenHCCard(session), kScanOk);
    EXPECT_EQ(pcsc.openTransactions, 1);
  }
  ExpectAllClosed();
  EXPECT_EQ(pcsc.transmitsOutsideTransaction, 0);
  EXPECT_EQ(pcsc.calls, (std::vector<std::string>{"establish", "size", "list", "connect Refusing",
                                                  "begin", "end", "disconnect", "connect B",
                                                  "begin", "end", "disconnect", "release"}));
}

TEST_F(ScanTest, CardThatCannotBeHeldCountsAsNotConnected) {
  pcsc.readers = {WithHCCard("A")};
  pcsc.beginResult = testing::kNoSmartcard;
  CardSession session(pcsc);
  EXPECT_EQ(OpenHCCard(session), common::kNoCardInReaders);
  EXPECT_TRUE(pcsc.sent.empty());
  session.Close();
  ExpectAllClosed();
}

TEST_F(ScanTest, SessionClosesItselfOnEveryPath) {
  pcsc.readers = {WithHCCard("A")};
  {
    CardSession session(pcsc);
    ASSERT_EQ(OpenHCCard(session), kScanOk);
  }
  ExpectAllClosed();
  pcsc.readers = {Empty("A")};
  {
    CardSession session(pcsc);
    EXPECT_EQ(OpenHCCard(session), common::kNoCardInReaders);
    EXPECT_TRUE(session.hasContext());  // the caller's to release
  }
  ExpectAllClosed();
}

TEST_F(ScanTest, OverlongAndSurplusReadersAreSkippedButPositionsKept) {
  const std::string longName(120, 'L');
  pcsc.readers = {WithHCCard(longName), WithHCCard("Short")};
  EXPECT_EQ(Find(), kScanOk);
  EXPECT_EQ(index, 1);
  for (const std::string& call : pcsc.calls) EXPECT_NE(call, "connect " + longName);

  pcsc.readers.clear();
  for (int i = 0; i < 22; ++i) pcsc.readers.push_back(Empty("R" + std::to_string(i)));
  pcsc.readers.push_back(WithHCCard("R22"));
  EXPECT_EQ(Find(), common::kNoCardInReaders);  // only the first 20 readers are looked at
}

TEST_F(ScanTest, ListReadersReportsRawStatusAndNames) {
  pcsc.readers = {Empty("Comma, Reader 00 00"), Empty("Other 00 00")};
  {
    CardSession session(pcsc);
    ReaderListing listing;
    EXPECT_EQ(ListReaders(session, listing), kPcscSuccess);
    EXPECT_EQ(listing.names.count(), 2);
    EXPECT_EQ(listing.names.Joined(), "Comma, Reader 00 00,Other 00 00");
  }
  pcsc.readers.clear();
  {
    CardSession session(pcsc);
    ReaderListing listing;
    EXPECT_EQ(ListReaders(session, listing), testing::kNoReadersAvailable);
    EXPECT_EQ(listing.names.count(), 0);
  }
  ExpectAllClosed();
}

// A size above 64 KiB is a failed listing, never an allocation of that size.
TEST_F(ScanTest, ReaderListAbove64KiBIsAFailedListing) {
  pcsc.readers = {WithHCCard("A")};
  pcsc.claimedListLength = kReaderListLimit + 1;
  EXPECT_EQ(Find(), common::kCannotReadReaderList);
  CardSession session(pcsc);
  ReaderListing listing;
  EXPECT_EQ(ListReaders(session, listing), kPcscListTooLarge);
  EXPECT_EQ(listing.names.count(), 0);
  pcsc.claimedListLength = kReaderListLimit;  // the limit itself is still read
  EXPECT_EQ(Find(), kScanOk);
}

// Two threads listing different reader sets at the same time never see each
// other's names: every listing has a table of its own.
TEST(ConcurrentListing, TwoThreadsNeverMixTheirNames) {
  LogCapture log;
  FakePcsc first;
  FakePcsc second;
  first.readers = {WithHCCard("First reader with a long name 00 00")};
  second.readers = {Empty("S"), WithHCCard("Second 00 01")};
  std::atomic<int> mismatches{0};
  auto worker = [&mismatches](FakePcsc& pcsc, const std::string& expected, int expectedIndex) {
    for (int i = 0; i < 300; ++i) {
      CardSession session(pcsc);
      ReaderListing listing;
      if (ListReaders(session, listing) != kPcscSuccess || listing.names.Joined() != expected) {
        ++mismatches;
      }
      CardSession scan(pcsc);
      int index = -1;
      if (FindHCReader(scan, index) != kScanOk || index != expectedIndex) ++mismatches;
    }
  };
  std::thread a(worker, std::ref(first), "First reader with a long name 00 00", 0);
  std::thread b(worker, std::ref(second), "S,Second 00 01", 1);
  a.join();
  b.join();
  EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace qardex::card
