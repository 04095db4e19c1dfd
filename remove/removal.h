// The uninstaller's one pass: stop and delete the service, then run the browser-store removal
// script, with the console output of each step.
#pragma once

#include <functional>
#include <string>

#include "setup/install_texts.h"
#include "setup/service_manager.h"

namespace qardex::remove {

// Returns the exit code: 0 after the script has run, -1 when the manager cannot be reached
// (the script is not run then).
int RunRemoval(setup::ServiceControl& control, const std::string& folder,
               const setup::LineSink& console, const std::function<void()>& runScript);

}  // namespace qardex::remove
