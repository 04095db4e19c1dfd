// Service steps shared by the installer and the uninstaller, and the installer's replacement
// of the service.
#pragma once

#include <string>

#include "setup/install_texts.h"
#include "setup/service_manager.h"

namespace qardex::setup {

// Stop requests to a running service: one, and a second when it still reports running. The
// caller does not wait for it to stop. Returns the open failure (0 when the service was open).
SystemError RequestStop(ServiceManager& manager, const std::string& name);

// How long a replaced service may take to stop and go away before it is created again.
struct RemovalWait {
  int pollMilliseconds = 250;
  int limitMilliseconds = 30000;
};

// Waits until `name` no longer exists, within the limit. True when it is gone.
bool WaitUntilGone(ServiceControl& control, ServiceManager& manager, const std::string& name,
                   const RemovalWait& wait);

// Removes an earlier service of that name, creates it afresh for `program`, gives it the
// service's failure policy and starts it.
// Returns 0 when the start was requested, -1 on failure; failures that end the run go to both
// `console` and `log`.
int ReplaceAndStartService(ServiceControl& control, const std::string& name,
                           const std::string& program, const LineSink& console, const LineSink& log,
                           const RemovalWait& wait = {});

}  // namespace qardex::setup
