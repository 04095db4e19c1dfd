// What the service manager does when the service ends without being asked to: start it again
// after a short pause, twice, then leave it stopped, so that a program that fails at every start
// does not run in a loop. The count of failures starts afresh after a day without one. A stop
// with an exit code other than 0 (the service gave up on its port, say) counts as a failure
// too, not only a crash.
#pragma once

#include <array>
#include <cstdint>

namespace qardex::setup {

enum class FailureResponse { kNone, kRestart };

struct FailureStep {
  FailureResponse response;
  std::uint32_t delayMilliseconds;
};

struct FailurePolicy {
  std::uint32_t resetSeconds;
  std::array<FailureStep, 3> steps;  // first failure, second, every one after
  bool onFailureExit = true;         // besides crashes, a stop with a failure exit code
};

inline constexpr FailurePolicy kServiceFailurePolicy{24 * 60 * 60,
                                                     {{{FailureResponse::kRestart, 5000},
                                                       {FailureResponse::kRestart, 5000},
                                                       {FailureResponse::kNone, 0}}}};

}  // namespace qardex::setup
