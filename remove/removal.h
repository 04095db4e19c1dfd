// The uninstaller's one pass: stop and delete the service, then run the browser-store removal
// script, with the console output of each step.
#pragma once

#include <functional>
#include <string>

#include "setup/install_texts.h"
#include "setup/service_manager.h"

namespace qardex::remove {

// Runs the script's command text and waits for it.
using ScriptRunner = std::function<void(const std::string& command)>;

// Returns the exit code: 0 after the script has run; -1 when the manager cannot be reached (the
// script is not run then) or when the script's command would be too long (the service is
// stopped and deleted all the same; only the script is skipped, and the console says so).
int RunRemoval(setup::ServiceControl& control, const std::string& folder,
               const setup::LineSink& console, const ScriptRunner& runScript);

}  // namespace qardex::remove
