#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "https/connection_loop.h"
#include "https/connection_owners.h"
#include "https/connection_registry.h"
#include "https/listen_retry.h"

namespace qardex::service {
namespace {

using Clock = ConnectionRegistry::Clock;
const Clock::time_point t0{};
Clock::time_point At(int seconds) { return t0 + std::chrono::seconds(seconds); }

TEST(ConnectionRegistry, ANewcomerBeyondTheLimitEvictsTheLongestIdle) {
  ConnectionRegistry registry(3, 3);
  const auto a = registry.Admit(At(0)), b = registry.Admit(At(1)), c = registry.Admit(At(2));
  ASSERT_TRUE(a->Busy());
  a->Idle(At(10));  // answered a request: idle again, but only since then
  const auto d = registry.Admit(At(11));
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(b->Evicted());
  EXPECT_FALSE(a->Evicted() || c->Evicted() || d->Evicted());
  EXPECT_FALSE(b->Busy()) << "an evicted connection must not start a request";
}

TEST(ConnectionRegistry, BusyConnectionsAreNeverEvicted) {
  ConnectionRegistry registry(2, 2);
  const auto a = registry.Admit(At(0)), b = registry.Admit(At(1));
  ASSERT_TRUE(a->Busy() && b->Busy());
  EXPECT_EQ(registry.Admit(At(2)), nullptr);
  EXPECT_FALSE(a->Evicted() || b->Evicted());
  b->Idle(At(3));
  EXPECT_NE(registry.Admit(At(4)), nullptr);
  EXPECT_TRUE(b->Evicted());
}

TEST(ConnectionRegistry, OnlyConnectionsIdlePastTheGraceAreEvicted) {
  ConnectionRegistry registry(1, 1);
  const auto a = registry.Admit(At(0));
  EXPECT_EQ(registry.Admit(At(0) + ConnectionRegistry::kEvictionGrace / 2), nullptr);
  EXPECT_FALSE(a->Evicted()) << "a burst of newcomers must not evict each other's handshakes";
  EXPECT_NE(registry.Admit(At(0) + ConnectionRegistry::kEvictionGrace), nullptr);
  EXPECT_TRUE(a->Evicted());
}

TEST(ConnectionRegistry, EvictedConnectionsHoldAPlaceUntilTheyLeave) {
  ConnectionRegistry registry(1, 1);
  const auto a = registry.Admit(At(0));
  const auto b = registry.Admit(At(1));  // evicts a
  ASSERT_TRUE(a->Evicted() && b != nullptr);
  EXPECT_EQ(registry.Admit(At(2)), nullptr) << "evictions in flight are bounded";
  EXPECT_FALSE(registry.WaitUntilEmpty(std::chrono::milliseconds(0)));
  registry.Leave(a);
  EXPECT_NE(registry.Admit(At(3)), nullptr);
  EXPECT_TRUE(b->Evicted());
}

// A request still incomplete 2 s after its first byte gives its place up like an idle connection;
// one that arrived whole (its call running) never does.
TEST(ConnectionRegistry, AStalledRequestIsEvictableAfterTwoSeconds) {
  using std::chrono::milliseconds;
  const struct {
    bool arrived;
    milliseconds later;
  } cases[] = {
      {false, milliseconds(1999)}, {false, milliseconds(2000)}, {true, milliseconds(9000)}};
  for (const auto& c : cases) {
    ConnectionRegistry registry(1, 1);
    const auto a = registry.Admit(At(0));
    ASSERT_TRUE(a->Receiving(At(1)) && (!c.arrived || a->Busy()));
    const bool evicts = !c.arrived && c.later >= ConnectionRegistry::kStalledRequestGrace;
    EXPECT_EQ(registry.Admit(At(1) + c.later) != nullptr, evicts) << c.later.count();
    EXPECT_EQ(a->Evicted(), evicts) << c.later.count();
  }
}

// Beyond its share a newcomer of a Windows session takes the place of that session's own
// evictable connection, or is refused; other sessions are not touched.
TEST(ConnectionRegistry, AWindowsSessionHoldsItsShareOnly) {
  ConnectionRegistry registry(8, 2);
  const auto a = registry.Admit(At(0)), b = registry.Admit(At(0)), other = registry.Admit(At(0));
  ASSERT_TRUE(registry.Assign(*a, 1, At(0)) && registry.Assign(*b, 1, At(0)) &&
              registry.Assign(*other, 2, At(0)) && a->Busy() && b->Receiving(At(1)));
  EXPECT_FALSE(registry.Assign(*registry.Admit(At(2)), 1, At(2))) << "b stalled only 1 s";
  EXPECT_TRUE(registry.Assign(*registry.Admit(At(3)), 1, At(3)));
  EXPECT_TRUE(b->Evicted() && !a->Evicted() && !other->Evicted());
}

using std::chrono::milliseconds;

// What the peer sends at a time in ms (nothing: raw bytes of a TLS record not yet whole), or
// kNewcomer: a newcomer of its Windows session asks for a place.
using Arrival = std::pair<int, std::string>;
const std::string kNewcomer = "newcomer";

// Requests are lines, each answered "<line>"; `during` runs inside each call.
struct LineExchange final : RequestExchange {
  explicit LineExchange(std::function<void(const Abandoned&)> call) : during(call) {}
  std::string Receive(std::string_view bytes, const Abandoned& abandoned) override {
    std::string answers;
    for (pending += bytes; pending.find('\n') != std::string::npos;
         pending.erase(0, pending.find('\n') + 1)) {
      if (during) during(abandoned);
      answers += "<" + pending.substr(0, pending.find('\n')) + ">";
    }
    return answers;
  }
  bool Closing() const override { return false; }
  bool InRequest() const override { return !pending.empty(); }
  std::shared_ptr<EventFeed> TakeEvents() override { return nullptr; }
  std::function<void(const Abandoned&)> during;
  std::string pending;
};

const CallerCheck kSessionOne{CallerRefusal::None, {11, 1, "S-1-5-21-1001"}};

// One connection of Windows session 1 with the default limits (request 10 s, idle 30 s, send
// 10 s), its peer scripted on a hand-moved clock: a wait moves it to the next arrival or to the
// wait's deadline.
struct OneConnection : ByteStream {
  Clock::time_point now = At(0);
  ConnectionRegistry registry{2, 1};
  const std::shared_ptr<ConnectionRegistry::Place> place = registry.Admit(now);
  std::atomic<bool> stop{false};
  bool newcomerPlaced = false;
  std::deque<Arrival> script;
  std::string pipelined;  // what the peer sends while a call runs
  milliseconds sendTakes{0};
  std::string sent;
  std::function<void(const Abandoned&)> during;

  void Newcomer() {
    const auto newcomer = registry.Admit(now);
    newcomerPlaced = newcomer && registry.Assign(*newcomer, 1, now);
  }
  bool Handshake(Clock::time_point, const Halt&) override { return true; }
  std::string Read(Clock::time_point deadline, const Halt& halt, const FirstBytes* first) override {
    for (; !script.empty() && !halt() && At(0) + milliseconds(script.front().first) <= deadline;
         script.pop_front()) {
      const auto [ms, bytes] = script.front();
      now = std::max(now, At(0) + milliseconds(ms));
      if (bytes == kNewcomer) {
        Newcomer();
        continue;
      }
      if (first != nullptr) {
        const auto requestDeadline = (*std::exchange(first, nullptr))();
        if (!requestDeadline) return {};
        deadline = std::min(deadline, *requestDeadline);
      }
      if (!bytes.empty()) return script.pop_front(), bytes;
    }
    if (!halt()) now = std::max(now, deadline);
    return {};
  }
  bool SendAll(std::string_view bytes, Clock::time_point deadline, const Halt& halt) override {
    if (halt() || now + sendTakes > deadline) return now = std::max(now, deadline), false;
    return now += sendTakes, sent.append(bytes), true;
  }
  bool PeerGone(std::string* early) override {
    if (early != nullptr) early->append(std::exchange(pipelined, {}));
    return false;
  }
  void ClosePolitely() override {}

  milliseconds Serve() {
    int pauses = 0;
    const auto pause = [&](milliseconds wait) { now += wait, stop = ++pauses > 1000; };
    ServeConnection(*this,
                    {registry, *place, ConnectionLimits{}, stop, [this] { return now; }, pause,
                     [] { return kSessionOne; },
                     [this](CallerCheck) { return std::make_unique<LineExchange>(during); }});
    return std::chrono::duration_cast<milliseconds>(now - At(0));
  }
};

// Each wait ends at its limit, the wait for a place in the Windows session too; a newcomer takes
// the place of a request stalled past the grace (the connection ends then), never of one whose
// call runs (every call takes 5 s, and a newcomer comes during it).
TEST(ConnectionLoop, EachWaitEndsAtItsLimitAndOnlyAStalledRequestIsEvicted) {
  std::deque<Arrival> trickle;
  for (int second = 1; second <= 20; ++second) trickle.push_back({second * 1000, "G"});
  const struct {
    const char* what;
    std::deque<Arrival> script;
    milliseconds sendTakes;
    int endsAtMs;
    std::string sent = "";
    bool evicted = false;
    std::string pipelined = "";  // sent during the first call
    bool shareTaken = false;     // by a busy connection of the same Windows session
  } cases[] = {
      {"a request trickled a byte a second, from its first byte", trickle, {}, 11000},
      {"raw bytes begin the request", {{1000, ""}, {6000, "GE"}, {12000, "T\n"}}, {}, 11000},
      {"idle after a 5 s call, a newcomer during it", {{1000, "a\n"}}, {}, 36000, "<a>"},
      {"a send that stalls", {{1000, "a\n"}, {2000, "b\n"}}, milliseconds(60000), 11000},
      {"a stalled request", {{1000, "GE"}, {4000, kNewcomer}}, {}, 4000, "", true},
      {"bytes sent during a call", {{1000, "a\n"}}, {}, 46000, "<a><b><c>", false, "b\nc\n"},
      {"no place in the Windows session", {{3000, "a\n"}}, {}, 2000, "", false, "", true},
  };
  for (const auto& c : cases) {
    OneConnection connection;
    connection.script = c.script;
    connection.sendTakes = c.sendTakes;
    connection.pipelined = c.pipelined;
    if (c.shareTaken) {
      const auto other = connection.registry.Admit(connection.now);
      ASSERT_TRUE(connection.registry.Assign(*other, 1, connection.now) && other->Busy());
    }
    connection.during = [&](const Abandoned& gone) {
      connection.now += std::chrono::seconds(5);
      connection.Newcomer();
      EXPECT_FALSE(gone());
    };
    EXPECT_EQ(connection.Serve().count(), c.endsAtMs) << c.what;
    EXPECT_EQ(connection.sent, c.sent) << c.what;
    EXPECT_EQ(connection.newcomerPlaced, c.evicted) << c.what;  // in this connection's place
  }
}

TEST(ConnectionOwners, OnlyTheRowFromThePeerToTheServiceOnLoopbackCounts) {
  constexpr std::uint32_t lo = 0x7F000001, other = 0x7F000002;
  const struct {
    TcpTable table;
    std::optional<std::uint32_t> owner;
  } cases[] = {
      {{{lo, 50000, lo, 14443, 7}}, 7},
      {{{lo, 50000, lo, 14443, 0}}, std::nullopt},  // the system does not know
      {{{lo, 14443, lo, 50000, 4}}, std::nullopt},  // the service's own end
      {{{other, 50000, lo, 14443, 7}}, std::nullopt},
      {{{lo, 50000, other, 14443, 7}}, std::nullopt},
      {{{lo, 50001, lo, 14443, 7}}, std::nullopt},
      {{{lo, 50000, lo, 14443, 7}, {lo, 50000, lo, 14443, 7}}, 7},
      {{{lo, 50000, lo, 14443, 7}, {lo, 50000, lo, 14443, 8}}, std::nullopt},
      {{}, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(OwnerOfLoopbackConnection(c.table, 50000, 14443), c.owner);
}

// Reads that block until the test lets them finish; each read's table names its number.
struct GatedReads {
  std::mutex lock;
  std::condition_variable changed;
  int started = 0, released = 0;
  bool fail = false;

  std::optional<TcpTable> Read() {
    std::unique_lock<std::mutex> hold(lock);
    const int number = ++started;
    changed.notify_all();
    changed.wait_for(hold, std::chrono::seconds(5), [&] { return released >= number; });
    if (fail) return std::nullopt;
    return TcpTable{{0, 0, 0, 0, static_cast<std::uint32_t>(number)}};
  }
  void AwaitStarted(int number) {
    std::unique_lock<std::mutex> hold(lock);
    changed.wait_for(hold, std::chrono::seconds(5), [&] { return started >= number; });
  }
  void Release(int number) {
    std::lock_guard<std::mutex> hold(lock);
    released = number;
    changed.notify_all();
  }
};

std::uint32_t ReadNumber(const std::shared_ptr<const TcpTable>& table) {
  return table && !table->empty() ? table->front().owner : 0;
}

TEST(ConnectionOwners, AThreadNeverGetsATableReadBeforeItAsked) {
  GatedReads reads;
  SharedTableReads shared([&] { return reads.Read(); }, std::chrono::seconds(5));
  std::uint32_t first = 0, second = 0;
  std::thread a([&] { first = ReadNumber(shared.Fresh()); });
  reads.AwaitStarted(1);
  std::thread b([&] { second = ReadNumber(shared.Fresh()); });  // asks while read 1 runs
  reads.Release(2);
  a.join();
  b.join();
  EXPECT_EQ(first, 1u);
  EXPECT_EQ(second, 2u);
}

TEST(ConnectionOwners, AWaitForAnotherThreadsReadIsBounded) {
  GatedReads reads;
  SharedTableReads shared([&] { return reads.Read(); }, std::chrono::milliseconds(50));
  std::thread a([&] { shared.Fresh(); });
  reads.AwaitStarted(1);
  EXPECT_EQ(shared.Fresh(), nullptr);  // read 1 hangs; this thread may not start its own
  reads.Release(1);
  a.join();
  reads.fail = true;
  reads.Release(3);
  EXPECT_EQ(shared.Fresh(), nullptr);
  reads.fail = false;
  EXPECT_EQ(ReadNumber(shared.Fresh()), 3u) << "a failed read is not kept";
}

// A port held by someone else: attempts every interval, on a clock that only pauses move.
TEST(ListenRetry, AttemptsUntilTheWindowEndsOrTheStopFlag) {
  using std::chrono::milliseconds;
  const struct {
    int succeedsAt, stopAfterPauses;  // 0: never
    bool listening;
    int attempts;
    milliseconds waited;  // the last pause is cut to the window's end
  } cases[] = {{3, 0, true, 3, milliseconds(500)},
               {0, 0, false, 6, milliseconds(1100)},
               {0, 2, false, 2, milliseconds(500)}};
  for (const auto& c : cases) {
    Clock::time_point now = t0;
    std::atomic<bool> stop{false};
    int attempts = 0, pauses = 0;
    const auto pause = [&](milliseconds wait) {
      now += wait;
      if (++pauses == c.stopAfterPauses) stop = true;
    };
    EXPECT_EQ(RetryWithin([&] { return ++attempts == c.succeedsAt; }, stop, [&] { return now; },
                          pause, RetryPlan{milliseconds(1100), milliseconds(250)}),
              c.listening);
    EXPECT_EQ(std::make_pair(attempts, std::chrono::duration_cast<milliseconds>(now - t0)),
              std::make_pair(c.attempts, c.waited))
        << c.succeedsAt << "/" << c.stopAfterPauses;
  }
}

}  // namespace
}  // namespace qardex::service
