// What mQARDEXService.exe does as the service or in the foreground: load (and renew) the
// certificate set beside the program, listen, identify each connection's caller, run its calls
// in the worker of the caller's Windows session, and serve until told to stop.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

namespace qardex::service {

// Exit codes (a missing file is an operator's problem, not a crash).
enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 2,
  kExitCertificateFiles = 3,
  kExitListen = 4,
  kExitStartup = 5,
};

struct ServiceOptions {
  // How long a worker with no call and no open session is kept; the pool's own bound when unset.
  std::optional<std::chrono::seconds> workerIdle;
  // False when the browsers' policies are left to group policy: renewals run no FoxTrust.cmd.
  bool browserPolicies = true;
};

// Serves until `stop` is set; `ready` runs once the service listens. Problems
// are written to standard error as one line each.
int RunService(const std::atomic<bool>& stop, const std::function<void()>& ready,
               const ServiceOptions& options = {});

// The user of that Windows session signed off: the running service ends the session's worker.
// Returns at once (the worker ends on the service's housekeeping thread); does nothing when no
// service runs.
void EndWindowsSession(std::uint32_t windowsSession);

}  // namespace qardex::service
