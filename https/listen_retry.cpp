#include "https/listen_retry.h"

#include <algorithm>

namespace qardex::service {

bool RetryWithin(const std::function<bool()>& attempt, const std::atomic<bool>& stop,
                 const SteadyClock& now, const Pause& pause, RetryPlan plan) {
  using std::chrono::milliseconds;
  const auto deadline = now() + plan.window;
  while (true) {
    if (attempt()) return true;
    if (stop.load()) return false;
    const auto left = deadline - now();
    if (left <= milliseconds::zero()) return false;
    pause(std::min(plan.interval, std::chrono::ceil<milliseconds>(left)));
    if (stop.load()) return false;
  }
}

}  // namespace qardex::service
