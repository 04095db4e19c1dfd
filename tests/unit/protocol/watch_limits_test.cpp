#include <gtest/gtest.h>

#include "protocol/watch_limits.h"

namespace qardex::service {
namespace {

// Watchers are bounded per service session, per Windows session and overall.
TEST(WatchLimits, EachBoundHoldsAndPlacesComeBack) {
  WatchLimits limits(2, 5, 3);
  std::vector<std::unique_ptr<WatchLimits::Place>> held;
  const auto admit = [&](const char* session, std::uint32_t windowsSession) {
    held.push_back(limits.Admit(session, windowsSession));
    return held.back() != nullptr;
  };
  EXPECT_TRUE(admit("a", 1) && admit("a", 1) && !admit("a", 1) && admit("b", 1));
  EXPECT_FALSE(admit("c", 1)) << "the Windows session's bound over its service sessions";
  EXPECT_TRUE(admit("d", 2) && admit("e", 3) && !admit("f", 4));
  held.front().reset();
  EXPECT_TRUE(admit("c", 1));
}

}  // namespace
}  // namespace qardex::service
