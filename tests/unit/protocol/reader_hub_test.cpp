#include <gtest/gtest.h>

#include "protocol/reader_hub.h"

namespace qardex::service {
namespace {

using Kind = ipc::ReaderEvent::Kind;
using Status = ReaderWatcher::Status;

using Lines = std::vector<std::string>;

Lines Drain(ReaderWatcher& watcher) {
  Lines got;
  for (auto next = watcher.Wait({}); next.status == Status::Event; next = watcher.Wait({})) {
    got.push_back(ReaderEventJson(next.event));
  }
  return got;
}

TEST(ReaderHub, WatchersGetTheStateThenChangesAndTheWorkerWatchesOnlyWhileSomeoneDoes) {
  std::vector<bool> switched;
  const auto hub =
      std::make_shared<ReaderHub>([&](bool on) { return switched.push_back(on), true; });
  auto first = hub->Subscribe();
  hub->Apply({Kind::ReaderAdded, 0, false, u"B"});
  hub->Apply({Kind::ReaderAdded, 0, false, u"A\""});
  hub->Apply({Kind::CardInserted, 1, true, u"B"});
  EXPECT_TRUE(Drain(*first).empty());  // nothing before the worker said it reported all
  hub->Apply({Kind::Synced, -1, false, u""});
  const std::string state =
      R"({"type":"state","readers":[{"index":0,"reader":"A\"","card":false,"hc":false},)"
      R"({"index":1,"reader":"B","card":true,"hc":true}]})";
  EXPECT_EQ(Drain(*first), Lines{state});
  auto second = hub->Subscribe();
  hub->Apply({Kind::CardRemoved, 1, false, u"B"});
  const std::string removed = R"({"type":"card-removed","index":1,"reader":"B"})";
  EXPECT_EQ(Drain(*first), Lines{removed});
  EXPECT_EQ(Drain(*second), (Lines{state, removed}));
  first.reset();
  EXPECT_EQ(switched, std::vector<bool>{true});
  second.reset();
  EXPECT_EQ(switched, (std::vector<bool>{true, false}));
  hub->Apply({Kind::ReaderAdded, 0, false, u"late"});  // from a watch being switched off
  auto third = hub->Subscribe();
  hub->Apply({Kind::Synced, -1, false, u""});
  EXPECT_EQ(Drain(*third), Lines{R"({"type":"state","readers":[]})"});
}

TEST(ReaderHub, AWatcherEndsWhenItFallsBehindOrItsWorkerEnds) {
  bool reachable = false;
  const auto hub = std::make_shared<ReaderHub>([&](bool) { return reachable; });
  EXPECT_EQ(hub->Subscribe(), nullptr);  // the worker could not be told
  reachable = true;
  auto slow = hub->Subscribe();
  auto other = hub->Subscribe();
  hub->Apply({Kind::Synced, -1, false, u""});
  for (std::size_t i = 0; i <= kMaxQueuedReaderEvents; ++i) {
    hub->Apply({i % 2 ? Kind::CardRemoved : Kind::ReaderAdded, 0, false, u"R"});
    Drain(*other);
  }
  EXPECT_EQ(Drain(*slow).size(), kMaxQueuedReaderEvents);
  EXPECT_EQ(slow->Wait({}).status, Status::Ended);
  EXPECT_EQ(other->Wait({}).status, Status::Nothing);
  hub->Close();
  EXPECT_EQ(other->Wait({}).status, Status::Ended);
  EXPECT_EQ(hub->Subscribe(), nullptr);
}

// A worker cannot grow the hub: a name beyond the bound, or one reader beyond the count, is
// refused (its connection then ends the worker).
TEST(ReaderHub, ReportsBeyondTheBoundsAreRefused) {
  const auto hub = std::make_shared<ReaderHub>([](bool) { return true; });
  const auto watcher = hub->Subscribe();
  const auto added = [&](std::u16string name) {
    return hub->Apply({Kind::ReaderAdded, 0, false, name});
  };
  EXPECT_FALSE(added(std::u16string(kMaxReaderNameUnits + 1, u'n')));
  for (std::size_t i = 0; i < kMaxReaders; ++i) ASSERT_TRUE(added(std::u16string(i + 1, u'x')));
  EXPECT_TRUE(added(u"x")) << "a reader reported again adds nothing";
  EXPECT_FALSE(added(u"one more"));
}

}  // namespace
}  // namespace qardex::service
