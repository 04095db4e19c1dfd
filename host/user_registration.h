// `QARDEXHost.exe --register-user` / `--unregister-user`: points the current user's keys of every
// browser at the host's manifests beside the program, or removes them. No elevation needed.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qardex::host {

struct RegistrationStep {
  std::string browser;
  bool done = false;
  std::string detail;  // the manifest registered, or why not
};

// `programFolder`: where QARDEXHost.exe and its manifests are.
std::vector<RegistrationStep> RegisterUser(const std::filesystem::path& programFolder);
std::vector<RegistrationStep> UnregisterUser();

}  // namespace qardex::host
