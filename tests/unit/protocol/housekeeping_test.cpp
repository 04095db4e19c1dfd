#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <vector>

#include "broker/worker_session.h"
#include "protocol/crypto_random.h"
#include "protocol/housekeeping.h"
#include "service/service_chores.h"
#include "tests/unit/fakes/fake_worker.h"

namespace qardex::service {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Sessions = std::vector<std::uint32_t>;

// The ticks of a Housekeeping and the sign-offs each was handed. Every tick throws, so each check
// also shows that a failed tick does not end the chores; the tick handed {holding} alone waits
// inside until released.
struct Ticks {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<Sessions> handed;  // of the ticks that were handed any
  int count = 0;
  std::uint32_t holding = 0;
  bool released = false;

  Housekeeping::Tick Tick() {
    return [this](const Sessions& signedOff) {
      std::unique_lock<std::mutex> guard(lock);
      ++count;
      if (!signedOff.empty()) handed.push_back(signedOff);
      changed.notify_all();
      if (signedOff == Sessions{holding}) changed.wait_for(guard, 10s, [this] { return released; });
      throw std::runtime_error("chore failed");
    };
  }
  template <typename Done>
  bool Await(Done done) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, 10s, done);
  }
};

TEST(Housekeeping, ASignOffIsHandedOverAtOnceAndTheEndDoesNotWaitForThePeriod) {
  Ticks ticks;
  std::optional<Housekeeping> chores(std::in_place, ticks.Tick(), 1h);
  chores->SignedOff(7);
  EXPECT_TRUE(ticks.Await([&] { return ticks.handed.size() == 1; }));
  const Clock::time_point ending = Clock::now();
  chores.reset();
  EXPECT_LT(Clock::now() - ending, 5s);
  EXPECT_EQ(ticks.handed, std::vector<Sessions>{{7}});
}

TEST(Housekeeping, EachSignOffGoesToOneTickAndThoseDuringATickTogether) {
  Ticks ticks;
  ticks.holding = 1;
  {
    Housekeeping chores(ticks.Tick(), 10ms);
    chores.SignedOff(1);
    ASSERT_TRUE(ticks.Await([&] { return ticks.handed.size() == 1; }));
    for (const std::uint32_t session : {2, 3, 2}) chores.SignedOff(session);
    int countAtRelease = 0;
    {
      std::lock_guard<std::mutex> hold(ticks.lock);
      countAtRelease = ticks.count;
      ticks.released = true;
      ticks.changed.notify_all();
    }
    // Two ticks after the one handed the rest, which could hand them again.
    EXPECT_TRUE(ticks.Await([&] { return ticks.count >= countAtRelease + 3; }));
  }
  EXPECT_EQ(ticks.handed, (std::vector<Sessions>{{1}, {2, 3}}));
}

TEST(ServiceChores, ASignOffEndsThatWindowsSessionsWorkerOnly) {
  testing::FakeStarter starter;
  testing::LogLines log;
  WorkerPool pool(starter, log, Clock::now);
  WorkerProvider provider(pool);
  SessionTable sessions(Clock::now, CryptoRandom);
  Router router(provider, sessions, log);
  const ipc::MethodSignature& getBasic = *ipc::FindMethod("GetBasic");
  WorkerSession alice(pool, {11, 1, "S-1-5-21-1001"}), bob(pool, {22, 2, "S-1-5-21-1002"});
  alice.Call(getBasic, {});
  bob.Call(getBasic, {});
  RunChores({2}, pool, sessions, router);
  EXPECT_TRUE(starter.workers.at(1)->terminated);
  EXPECT_FALSE(starter.workers.at(0)->terminated);
  EXPECT_EQ(alice.Call(getBasic, {}).lastError, 2);  // its worker's second call
}

}  // namespace
}  // namespace qardex::service
