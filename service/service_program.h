// What mQARDEXService.exe does in either mode: load the certificate files
// beside the program, listen, and serve until told to stop.
#pragma once

#include <atomic>
#include <functional>

namespace qardex::service {

// Exit codes (a missing file is an operator's problem, not a crash).
enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 2,
  kExitCertificateFiles = 3,
  kExitListen = 4,
  kExitStartup = 5,
};

// Serves until `stop` is set; `ready` runs once the service listens. Problems
// are written to standard error as one line each.
int RunService(const std::atomic<bool>& stop, const std::function<void()>& ready);

}  // namespace qardex::service
