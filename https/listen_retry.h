// How a start whose port is taken waits for it: the copy of the service the service manager is
// replacing, or a program that held the port a moment, lets go within seconds.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>

#include "qardex_constants.h"
#include "protocol/service_clock.h"

namespace qardex::service {

struct RetryPlan {
  // From the first attempt to the last.
  std::chrono::milliseconds window{std::chrono::seconds(build::kLocalServicePortRetrySeconds)};
  std::chrono::milliseconds interval{500};
};

// Waits the given time (or returns sooner); a sleep in the program, a clock moved in tests.
using Pause = std::function<void(std::chrono::milliseconds)>;

// Calls `attempt` until it succeeds (true), the window has passed on `now` or `stop` is set
// (false). Between attempts `pause` is never asked for more than the interval or the time left.
bool RetryWithin(const std::function<bool()>& attempt, const std::atomic<bool>& stop,
                 const SteadyClock& now, const Pause& pause, RetryPlan plan = {});

}  // namespace qardex::service
