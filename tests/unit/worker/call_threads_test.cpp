#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "worker/call_threads.h"

namespace qardex::worker {
namespace {

using namespace std::chrono_literals;

// What a job throws stays on its thread, and a job still running when its owner lets go of the
// threads finishes on live state (ASan would see it otherwise).
TEST(CallThreads, AThrowingJobEndsNothingAndARunningJobOutlivesItsOwner) {
  std::mutex lock;
  std::condition_variable changed;
  int done = 0;
  bool release = false;
  const auto finish = [&] {
    std::lock_guard<std::mutex> hold(lock);
    ++done;
    changed.notify_all();
  };
  const auto doneWithin = [&](int count) {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, 10s, [&] { return done == count; });
  };
  std::optional<CallThreads> threads;
  threads.emplace();
  ASSERT_TRUE(threads->Post([] { throw std::runtime_error("broken"); }));
  ASSERT_TRUE(threads->Post(finish));
  ASSERT_TRUE(doneWithin(1));
  ASSERT_TRUE(threads->Post([&] {
    std::unique_lock<std::mutex> hold(lock);
    changed.wait_for(hold, 10s, [&] { return release; });
    ++done;
    changed.notify_all();
  }));
  threads.reset();
  {
    std::lock_guard<std::mutex> hold(lock);
    release = true;
    changed.notify_all();
  }
  EXPECT_TRUE(doneWithin(2));
}

}  // namespace
}  // namespace qardex::worker
