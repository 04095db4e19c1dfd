#include <gtest/gtest.h>

#include <future>
#include <stdexcept>

#include "common/call_threads.h"

namespace qardex::common {
namespace {

using namespace std::chrono_literals;

// What a job throws stays on its thread, and a job still running when its owner lets go of the
// threads finishes on live state (ASan would see it otherwise).
TEST(CallThreads, AThrowingJobEndsNothingAndARunningJobOutlivesItsOwner) {
  std::promise<void> ran, release, finished;
  const std::shared_future<void> released = release.get_future();
  {
    CallThreads threads;
    ASSERT_TRUE(threads.Post([] { throw std::runtime_error("broken"); }));
    ASSERT_TRUE(threads.Post([&] { ran.set_value(); }));
    ASSERT_EQ(ran.get_future().wait_for(10s), std::future_status::ready);
    ASSERT_TRUE(threads.Post([&finished, released] {
      released.wait_for(10s);
      finished.set_value();
    }));
  }
  release.set_value();
  EXPECT_EQ(finished.get_future().wait_for(10s), std::future_status::ready);
}

}  // namespace
}  // namespace qardex::common
