// The administrator's LocalhostPorts policy as the service applies it: read at start and again
// when a request comes and the last read is older than a few seconds, so a changed policy
// takes effect without a restart and a busy service reads the registry at most that often.
// Safe to use from several connection threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "protocol/service_clock.h"
#include "protocol/service_log.h"
#include "sitelock/localhost_ports.h"

namespace qardex::service {

using sitelock::PolicyText;
using PolicyTextReader = std::function<PolicyText()>;

inline constexpr std::chrono::seconds kLocalhostPolicyReread{5};

class LocalhostPolicy {
 public:
  LocalhostPolicy(PolicyTextReader read, SteadyClock clock, ServiceLog& log,
                  std::chrono::steady_clock::duration reread = kLocalhostPolicyReread);

  // The ports in force; none while the value is absent, unreadable or not a list of ports.
  sitelock::LocalhostPorts Current();

 private:
  void Apply(const PolicyText& read);

  const PolicyTextReader read_;
  const SteadyClock clock_;
  ServiceLog& log_;
  const std::chrono::steady_clock::duration reread_;
  std::mutex lock_;
  std::optional<std::chrono::steady_clock::time_point> readAt_;
  std::optional<PolicyText> last_;  // what was read last, so that only a change is logged
  sitelock::LocalhostPorts ports_;
};

}  // namespace qardex::service
