#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "cloud/key_pairs_made_ahead.h"

namespace qardex::cloud {
namespace {

using Clock = std::chrono::steady_clock;

// Empty key objects stand in for key pairs: the source only moves them.
struct CountingMisses : KeyPairSource {
  KeyPair Take() override {
    ++count;
    return KeyPair(EVP_PKEY_new());
  }
  std::atomic<int> count{0};
};

struct Maker {
  KeyPair operator()(const std::atomic<bool>&) {
    KeyPair pair(EVP_PKEY_new());
    const std::lock_guard<std::mutex> lock(mutex);
    made.insert(pair.get());
    return pair;
  }
  std::mutex mutex;
  std::set<EVP_PKEY*> made;
};

std::size_t MadeCount(Maker& maker) {
  const std::lock_guard<std::mutex> lock(maker.mutex);
  return maker.made.size();
}

bool MadeWithin(Maker& maker, std::size_t count, std::chrono::milliseconds limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  while (MadeCount(maker) < count && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return MadeCount(maker) >= count;
}

TEST(KeyPairsMadeAhead, HandsEachMadeKeyPairOverOnceAndMakesTheNextWhenTheCallIsDone) {
  Maker maker;
  CountingMisses misses;
  KeyPairsMadeAhead source([&](const std::atomic<bool>& stop) { return maker(stop); }, misses);
  std::vector<KeyPair> taken;  // kept, so that no address comes back for another key
  std::set<EVP_PKEY*> handedOver;
  for (int call = 0; call < 3; ++call) {
    taken.push_back(source.Take());  // waits for the one being made
    ASSERT_EQ(misses.count, 0) << "call " << call << " made its own key pair";
    EXPECT_TRUE(handedOver.insert(taken.back().get()).second) << "handed over twice";
    // While the call uses its key pair, no other is made.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(MadeCount(maker), handedOver.size()) << "made while call " << call << " ran";
    source.Done();
    MadeWithin(maker, handedOver.size() + 1, std::chrono::seconds(10));
  }
  EXPECT_EQ(MadeCount(maker), 4u) << "one key pair ready after the last call";
}

TEST(KeyPairsMadeAhead, NextKeyPairWaitsForAQuietTimeAndACallInItMakesItsOwn) {
  Maker maker;
  CountingMisses misses;
  KeyPairsMadeAhead source([&](const std::atomic<bool>& stop) { return maker(stop); }, misses,
                           std::chrono::seconds(2), std::chrono::milliseconds(300));
  ASSERT_TRUE(MadeWithin(maker, 1, std::chrono::seconds(10)));  // the first: at once
  KeyPair first = source.Take();
  source.Done();
  // The call that follows at once does not wait for a key pair begun after the quiet time.
  KeyPair own = source.Take();
  EXPECT_EQ(misses.count, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(MadeCount(maker), 1u) << "made while a call used its own key pair";
  source.Done();
  EXPECT_TRUE(MadeWithin(maker, 2, std::chrono::seconds(10)));
}

TEST(KeyPairsMadeAhead, CallWithoutAReadyKeyPairMakesItsOwnAndTheEndAbandonsTheMaking) {
  CountingMisses misses;
  std::atomic<int> makerState{0};  // 1 making, 2 stopped by the source, 3 ran out of time
  auto slowMaker = [&](const std::atomic<bool>& stop) {
    makerState = 1;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    while (!stop && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    makerState = stop ? 2 : 3;
    return KeyPair();
  };
  auto throwingMaker = [](const std::atomic<bool>&) -> KeyPair { throw std::bad_alloc(); };
  for (const KeyPairsMadeAhead::Maker& maker :
       {KeyPairsMadeAhead::Maker(throwingMaker), KeyPairsMadeAhead::Maker(slowMaker)}) {
    const int before = misses.count;
    const Clock::time_point start = Clock::now();
    {
      KeyPairsMadeAhead source(maker, misses, std::chrono::milliseconds(50));
      while (makerState == 0 && Clock::now() - start < std::chrono::milliseconds(200)) {
        std::this_thread::yield();
      }
      EXPECT_NE(source.Take(), nullptr);
      EXPECT_EQ(misses.count, before + 1);
    }
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  }
  EXPECT_EQ(makerState, 2);
}

}  // namespace
}  // namespace qardex::cloud
