// The Windows side of the bundle's browser versions and proxy settings: each probe reads and
// reports plain values; browser_versions and proxy_settings make the texts.
#pragma once

#include <vector>

#include "checkup/browser_versions.h"
#include "checkup/proxy_settings.h"

namespace qardex::checkup {

// Every program of the Uninstall keys with a DisplayName: the machine's in its 64-bit and
// 32-bit views, then the user's.
std::vector<InstalledProgram> ProbeInstalledPrograms();

UserProxySettings ProbeUserProxy();
MachineProxySettings ProbeMachineProxy();

}  // namespace qardex::checkup
