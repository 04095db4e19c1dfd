#include "messaging/extension_policies.h"

#include "qardex_extension.h"

namespace qardex::messaging {

const std::vector<ExtensionPolicy>& ExtensionPolicies() {
  static const std::vector<ExtensionPolicy> policies = {
      {"Chrome", BrowserFamily::Chromium, L"Software\\Policies\\Google\\Chrome",
       L"ExtensionInstallForcelist"},
      {"Chromium", BrowserFamily::Chromium, L"Software\\Policies\\Chromium",
       L"ExtensionInstallForcelist"},
      {"Edge", BrowserFamily::Chromium, L"Software\\Policies\\Microsoft\\Edge",
       L"ExtensionInstallForcelist"},
      {"Firefox", BrowserFamily::Firefox, L"Software\\Policies\\Mozilla\\Firefox",
       L"ExtensionSettings"},
  };
  return policies;
}

std::wstring PolicyKey(const ExtensionPolicy& policy) { return policy.root + L"\\" + policy.name; }

std::string ChromiumExtensionId() {
  // "chrome-extension://ID/"
  const std::string_view origin = build::kChromiumExtensionOrigin;
  const std::string_view scheme = "chrome-extension://";
  return std::string(origin.substr(scheme.size(), origin.size() - scheme.size() - 1));
}

std::string ForcelistEntry(std::string_view updateUrl) {
  return ChromiumExtensionId() + ";" + std::string(updateUrl);
}

}  // namespace qardex::messaging
