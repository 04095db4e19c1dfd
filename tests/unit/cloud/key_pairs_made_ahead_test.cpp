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

TEST(KeyPairsMadeAhead, HandsEachMadeKeyPairOverOnceAndKeepsOneReady) {
  Maker maker;
  CountingMisses misses;
  KeyPairsMadeAhead source([&](const std::atomic<bool>& stop) { return maker(stop); }, misses);
  std::vector<KeyPair> taken;  // kept, so that no address comes back for another key
  std::set<EVP_PKEY*> handedOver;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
  while (handedOver.size() < 3 && Clock::now() < deadline) {
    taken.push_back(source.Take());
    if (std::lock_guard<std::mutex> lock(maker.mutex); maker.made.count(taken.back().get()) == 0) {
      continue;  // a miss, made in the call
    }
    EXPECT_TRUE(handedOver.insert(taken.back().get()).second) << "handed over twice";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(handedOver.size(), 3u);
  EXPECT_EQ(taken.size(), 3u + static_cast<std::size_t>(misses.count));
  const std::lock_guard<std::mutex> lock(maker.mutex);
  EXPECT_LE(maker.made.size(), 4u) << "more than one key pair made ahead";
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
      KeyPairsMadeAhead source(maker, misses);
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
