// Service steps shared by the installer and the uninstaller, and the installer's replacement
// of the service.
#pragma once

#include <cstdint>
#include <string>

#include "qardex_constants.h"
#include "setup/install_texts.h"
#include "setup/port_holder.h"
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

// How long a started service may take to report running: the whole retry for its port and more.
struct StartWait {
  int pollMilliseconds = 250;
  int limitMilliseconds = build::kLocalServiceStartSeconds * 1000;
};

// The local service's program and the port it must hold on 127.0.0.1 once it runs.
struct ServiceProgram {
  std::string path;
  std::string arguments;  // after the quoted path, for every start
  std::uint16_t port = build::kLocalServicePort;
};

// Removes an earlier service of that name, creates it afresh for `program`, gives it the
// service's failure policy and starts it. Then waits for it to run and checks that the listener
// on its port is its own process: a program that took the port between the stop and the start
// would otherwise serve the service's name to every browser.
// Returns 0 when the service runs and holds its port, -1 on failure; failures that end the run go
// to both `console` and `log`.
int ReplaceAndStartService(ServiceControl& control, ListenerTable& listeners,
                           const std::string& name, const ServiceProgram& program,
                           const LineSink& console, const LineSink& log,
                           const RemovalWait& wait = {}, const StartWait& startWait = {});

}  // namespace qardex::setup
