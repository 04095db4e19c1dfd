#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "card/apdu.h"
#include "card/reader_watch.h"
#include "tests/unit/fakes/fake_pcsc.h"

namespace qardex::card {
namespace {

using testing::Bytes;
using testing::FakePcsc;
using testing::FakeReader;
using Kind = ReaderChange::Kind;

// PC/SC's wait over the fake's readers, at once; the list pseudo-reader counts them (upper half).
struct FakeStatus : StatusChangeApi {
  explicit FakeStatus(FakePcsc& fake) : pcsc(fake) {}
  PcscStatus GetStatusChange(PcscContext, std::chrono::milliseconds,
                             std::vector<ReaderStatus>& states) override {
    bool changed = false;
    for (ReaderStatus& state : states) {
      const auto it = std::find_if(pcsc.readers.begin(), pcsc.readers.end(),
                                   [&](const FakeReader& r) { return r.name == state.reader; });
      state.event = it != pcsc.readers.end() && it->hasCard ? kReaderStatePresent : 0;
      if (state.reader == kReaderListNotification) state.event = pcsc.readers.size() << 16;
      changed |= state.event != state.current;
    }
    return failure != kPcscSuccess ? failure : changed ? kPcscSuccess : kPcscTimeout;
  }
  FakePcsc& pcsc;
  PcscStatus failure = kPcscSuccess;
};

TEST(ReaderWatch, ReportsEachChangeOnceAndStartsAgainAfterTheServiceWasLost) {
  const Bytes select(kSelectHC.begin(), kSelectHC.end());
  FakePcsc pcsc;
  FakeStatus status(pcsc);
  pcsc.readers = {{"A", true, {{select, testing::Ok()}}}, {"B", false, {}}};
  const auto setService = [&](PcscStatus result) {
    pcsc.establishResult = status.failure = result;
  };
  const struct {
    const char* what;
    std::function<void()> change;
    bool reached;
    std::vector<ReaderChange> expected;
  } steps[] = {
      // clang-format off
      {"what is there", [] {}, true, {{Kind::ReaderAdded, "A", 0, false},
          {Kind::CardInserted, "A", 0, true}, {Kind::ReaderAdded, "B", 1, false}}},
      {"nothing changed", [] {}, true, {}},
      {"card taken out", [&] { pcsc.readers[0].hasCard = false; }, true,
          {{Kind::CardRemoved, "A", 0, false}}},
      {"a card that is no HC card", [&] { pcsc.readers[1].hasCard = true; }, true,
          {{Kind::CardInserted, "B", 1, false}}},
      {"a reader added", [&] { pcsc.readers.push_back({"C", false, {}}); }, true,
          {{Kind::ReaderAdded, "C", 2, false}}},
      {"the first reader removed", [&] { pcsc.readers.erase(pcsc.readers.begin()); }, true,
          {{Kind::ReaderRemoved, "A", 0, false}}},
      {"the service stopped", [&] { setService(testing::kNoService); }, false,
          {{Kind::CardRemoved, "B", 0, false}, {Kind::ReaderRemoved, "B", 0, false},
           {Kind::ReaderRemoved, "C", 1, false}}},
      {"still stopped", [] {}, false, {}},
      {"back", [&] { setService(kPcscSuccess); }, true, {{Kind::ReaderAdded, "B", 0, false},
          {Kind::CardInserted, "B", 0, false}, {Kind::ReaderAdded, "C", 1, false}}},
      // clang-format on
  };
  ReaderWatch watch(pcsc, status);
  for (const auto& step : steps) {
    step.change();
    std::vector<ReaderChange> changes;
    EXPECT_EQ(watch.Round(std::chrono::milliseconds(1), changes), step.reached) << step.what;
    EXPECT_EQ(changes, step.expected) << step.what;
  }
  // The SELECT ran inside a transaction, and every card was let go.
  EXPECT_EQ(pcsc.transmitsOutsideTransaction, 0);
  EXPECT_EQ(pcsc.openCards, 0);
  EXPECT_EQ(pcsc.openTransactions, 0);
}

}  // namespace
}  // namespace qardex::card
