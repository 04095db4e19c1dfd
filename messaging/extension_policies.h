// Where each browser reads the machine policy that installs the QARDEX extension and keeps it
// installed (a managed machine's force-install), under HKEY_LOCAL_MACHINE. The installer
// package writes these when its properties ask for it, the group policy templates set the same
// keys, and --diagnose reads them back.
//
// Chrome, Chromium and Edge: a list policy ExtensionInstallForcelist, one REG_SZ per extension,
// "ID;UPDATE_URL". Chrome's reader takes every value of the list whose name is a number and
// passes over the others, so our entry has a number of its own (kForcelistValueName) beside an
// administrator's 1, 2, ... Firefox: the dictionary policy ExtensionSettings, which Firefox reads
// either as one JSON value or as a key whose subkeys are objects; ours is the subkey named by
// our extension's id with installation_mode and install_url.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "messaging/host_registrations.h"

namespace qardex::messaging {

struct ExtensionPolicy {
  const char* browser;   // for people: "Chrome", as in HostRegistrations()
  BrowserFamily family;  // Chromium: a forcelist entry; Firefox: an ExtensionSettings key
  std::wstring root;     // the browser's policy key below HKLM, without a leading backslash
  std::wstring name;     // the policy: the list's key, or the dictionary's key and JSON value
};

// Chrome, Chromium, Edge and Firefox, in that order.
const std::vector<ExtensionPolicy>& ExtensionPolicies();

// The key below HKLM that holds the policy (root\name).
std::wstring PolicyKey(const ExtensionPolicy& policy);

// The name of our value in a forcelist: a number, which Chrome requires, far above the numbers
// an administrator's list uses (QARDEX on a telephone keypad).
inline constexpr char kForcelistValueName[] = "727339";

// The Chromium extension's id, from the origin the host serves.
std::string ChromiumExtensionId();

// Our forcelist entry: "ID;URL".
std::string ForcelistEntry(std::string_view updateUrl);

// Firefox: the values of the key PolicyKey(policy)\<our id>.
inline constexpr char kFirefoxModeValue[] = "installation_mode";
inline constexpr char kFirefoxForcedMode[] = "force_installed";
inline constexpr char kFirefoxUrlValue[] = "install_url";

}  // namespace qardex::messaging
