// The clock the service's idle limits are measured on: the steady clock in the program, a
// hand-moved one in tests.
#pragma once

#include <chrono>
#include <functional>

namespace qardex::service {

using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

}  // namespace qardex::service
