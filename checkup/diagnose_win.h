// mQARDEXService.exe --diagnose [--json] and --bundle FILE.zip: the set-up check on this machine
// for the user who runs it (cheap local checks first, the card and the authentication server
// last), and a support bundle of the logs with the card's data masked. QARDEXHost.exe
// --diagnose [--json]: the browser extension's part of the check.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>

#include "checkup/finding.h"

namespace qardex::checkup {

// Runs every check in order; `progress` sees each area's findings as they come.
Findings RunChecks(const std::function<void(const Findings&)>& progress);

// Prints the report on standard output (lines as each check ends, or one JSON text at the end);
// returns the report's exit code.
int RunDiagnose(bool json);

// The browser extension's checks alone (QARDEXHost.exe --diagnose [--json]): the host's
// registration and the force-install policy for each browser.
Findings ExtensionChecks();
int RunExtensionDiagnose(bool json);

// Writes the bundle: the report, the install log, the service's log (`serviceLog`), the last
// seven daily logs masked, the browser policies, the versions, the browsers installed and the
// proxy settings (credentials masked). 0 when written, else 1 with a
// line on standard error.
int WriteBundle(const std::filesystem::path& zip,
                const std::optional<std::filesystem::path>& serviceLog);

}  // namespace qardex::checkup
