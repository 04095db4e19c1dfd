// The Windows side of the extension's check: the host's registrations for each browser (as the
// browsers look them up: the user's key, then the machine's in the 32-bit and then the 64-bit
// view), the manifests they name, and the force-install policies. Reads only.
#pragma once

#include <string>
#include <vector>

#include "checkup/extension_verdicts.h"

namespace qardex::checkup {

// For each browser of HostRegistrations(), in that order.
std::vector<BrowserExtensionFacts> ProbeExtension();

// Whether `path` (UTF-8) names a file.
bool FileIsThere(const std::string& path);

}  // namespace qardex::checkup
