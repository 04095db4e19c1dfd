// Diagnostics: what a page may know about the set-up without learning anything about the
// person: the service's version, how many readers there are, whether one of them holds an HC
// card and whether the authentication server can be reached. The answers come from a worker for
// the caller, through a session of their own that ends with the request.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "protocol/call_context.h"
#include "protocol/caller.h"
#include "protocol/method_runner.h"
#include "protocol/service_clock.h"

namespace qardex::service {

// An answer is given again for this long instead of asking the card anew.
inline constexpr std::chrono::seconds kDiagnosticsReuse{2};
// How long a request waits for the probe another request runs (its ServiceStatus may wait on
// the network).
inline constexpr std::chrono::milliseconds kDiagnosticsWait{30'000};

struct DiagnosticsAnswer {
  CallStatus status = CallStatus::Ok;  // of the first call that gave no result
  std::string body;                    // the JSON object when Ok
};

DiagnosticsAnswer GatherDiagnostics(MethodProvider& provider, const Caller& caller);

// Runs one probe at a time for the whole service, so that requests in a loop cannot keep the
// cards and the workers busy; an answer younger than kDiagnosticsReuse is given again to the
// same user of the same Windows session (another session sees other readers). A request that
// waits longer than its limit for the running probe, or whose client leaves, gets Busy.
class DiagnosticsProbe {
 public:
  explicit DiagnosticsProbe(SteadyClock clock, std::chrono::milliseconds wait = kDiagnosticsWait);

  DiagnosticsAnswer Gather(MethodProvider& provider, const Caller& caller,
                           const CallContext& context = {});

 private:
  using Key = std::pair<std::uint32_t, std::string>;  // Windows session, user
  struct Kept {
    std::chrono::steady_clock::time_point at;
    std::string body;
  };
  // A kept answer for `key` still young enough; empty when there is none.
  std::string Reusable(const Key& key);

  const SteadyClock clock_;
  const std::chrono::milliseconds wait_;
  std::timed_mutex probing_;
  std::mutex lock_;  // over kept_
  std::map<Key, Kept> kept_;
};

}  // namespace qardex::service
