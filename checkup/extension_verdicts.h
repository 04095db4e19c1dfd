// The set-up check of the browser extension's road, for each browser of HostRegistrations():
// whether the browser finds our native host (a registration for this user or for the machine,
// its manifest, the program the manifest names) and whether a machine policy force-installs our
// extension there. Pure; extension_probes_win.cpp gathers the facts. A force-install policy
// that is absent is news, not a fault; a host missing where the extension is forced is one.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "checkup/finding.h"
#include "messaging/host_registrations.h"

namespace qardex::checkup {

// One registration: the default value of the browser's key, and the file it names.
struct HostPlace {
  std::string manifest;                     // the manifest's full path
  std::optional<std::string> manifestText;  // nullopt: cannot be read
};

struct BrowserExtensionFacts {
  std::string browser;  // "Chrome", as the tables name it
  messaging::BrowserFamily family = messaging::BrowserFamily::Chromium;
  std::optional<HostPlace> user;     // HKEY_CURRENT_USER, which the browser reads first
  std::optional<HostPlace> machine;  // HKEY_LOCAL_MACHINE, in the first view that has the key

  // Chromium family: every text value of the forcelist, as (name, data).
  std::vector<std::pair<std::string, std::string>> forcelist;
  // Firefox: the ExtensionSettings policy as a JSON value (REG_MULTI_SZ lines joined), whether
  // its key exists, and the values of the key's subkey named by our id (name, data).
  std::optional<std::string> settingsJson;
  bool settingsKey = false;
  std::optional<std::vector<std::pair<std::string, std::string>>> settingsOurs;
};

// Two lines for each browser: HOST_<BROWSER> and FORCE_INSTALL_<BROWSER>.
Findings JudgeExtension(const std::vector<BrowserExtensionFacts>& browsers,
                        const FileExists& exists);

}  // namespace qardex::checkup
