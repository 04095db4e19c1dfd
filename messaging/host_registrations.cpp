#include "messaging/host_registrations.h"

#include "qardex_extension.h"

namespace qardex::messaging {

namespace {

std::wstring Wide(const char* ascii) {
  return std::wstring(ascii, ascii + std::char_traits<char>::length(ascii));
}

}  // namespace

const std::vector<BrowserRegistration>& HostRegistrations() {
  static const std::wstring name = Wide(build::kNativeHostName);
  static const std::vector<BrowserRegistration> registrations = {
      {"Chrome", BrowserFamily::Chromium,
       L"Software\\Google\\Chrome\\NativeMessagingHosts\\" + name},
      {"Chromium", BrowserFamily::Chromium, L"Software\\Chromium\\NativeMessagingHosts\\" + name},
      {"Edge", BrowserFamily::Chromium,
       L"Software\\Microsoft\\Edge\\NativeMessagingHosts\\" + name},
      {"Firefox", BrowserFamily::Firefox, L"Software\\Mozilla\\NativeMessagingHosts\\" + name},
  };
  return registrations;
}

std::wstring ManifestFileName(BrowserFamily family) {
  return Wide(build::kNativeHostName) +
         (family == BrowserFamily::Firefox ? L".firefox.json" : L".json");
}

std::optional<BrowserFamily> CallerFamily(const std::vector<std::string>& args) {
  if (!args.empty() && args[0] == build::kChromiumExtensionOrigin) return BrowserFamily::Chromium;
  if (args.size() >= 2 && args[1] == build::kFirefoxExtensionId) return BrowserFamily::Firefox;
  return std::nullopt;
}

}  // namespace qardex::messaging
