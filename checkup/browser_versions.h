// Which browsers a machine has and in which versions, for the support bundle: the programs of
// the Uninstall keys (the machine's, in each registry view, and the user's) that are the
// browsers the extension and the local service serve. Pure; bundle_probes_win.cpp reads the keys.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qardex::checkup {

enum class ProgramPlace { kMachine, kMachine32, kUser };

// One subkey of an Uninstall key.
struct InstalledProgram {
  std::string name;     // DisplayName
  std::string version;  // DisplayVersion; empty when it has none
  ProgramPlace place = ProgramPlace::kMachine;
};

// The browser a DisplayName names, as the bundle lists it ("Chrome", "Edge", "Chromium",
// "Firefox", "Firefox ESR"); nullopt for any other program.
std::optional<std::string> BrowserOf(std::string_view displayName);

// A line for each installation of each of those browsers, in that order, and "not installed"
// for one without any: "Chrome: 120.0.6099.130 (Google Chrome, this machine)". A machine entry
// that the 32-bit view shows as the 64-bit one does (a system without views) is listed once.
std::string BrowserVersionsText(const std::vector<InstalledProgram>& programs);

}  // namespace qardex::checkup
