// The installer package's share of the browser extension: the native host's registration for
// every user of the machine, and the force-install policies a managed machine asks for through
// the package's public properties. Made from the tables the host and --diagnose read
// (messaging/host_registrations.h, messaging/extension_policies.h), as WiX include files.
#pragma once

#include <string>
#include <vector>

namespace qardex::packaging {

// The host component's content beside QARDEXHost.exe: each manifest of ManifestFileName() as a
// File (its id is its name; its source in `stageFolder`), and for every browser of
// HostRegistrations() its key under HKLM whose default value is that installed file.
std::string WixHostRows(const std::string& stageFolder);

// One public property that force-installs the extension in one browser family.
struct ForceInstallProperty {
  const char* property;   // given on msiexec's command line, e.g. CHROMIUM_EXTENSION_UPDATE_URL
  const char* saved;      // the value found from an earlier installation
  const char* valueName;  // where the package keeps it, under kSavedValuesKey
  const char* component;  // the package's component that holds the family's rows
  const char* action;     // the custom action that takes the saved value when none is given
  bool firefox;           // the family
};
const std::vector<ForceInstallProperty>& ForceInstallProperties();

// Under HKLM, in the package's registry view.
inline constexpr char kSavedValuesKey[] = "Software\\QARDEX\\Extension";
// Given as a property's value, it stops the force-install the package was remembering.
inline constexpr char kNoForceInstall[] = "none";

// The component's rows: the family's policies with the property's URL, and the URL kept for
// later installations.
std::string WixForceInstallRows(const ForceInstallProperty& property);

// The searches for the saved values and the actions that fill a property not given (Product).
std::string WixForceInstallProperties();
// Their place right after AppSearch (InstallUISequence and InstallExecuteSequence alike).
std::string WixForceInstallSequence();
// "COMPONENT<TAB>CONDITION" lines: each component only when its property holds a URL.
std::string ForceInstallConditions();

}  // namespace qardex::packaging
