// The proxy settings for the support bundle: the user's (what WinHTTP reads of the browsers'
// Internet settings) and WinHTTP's own for the machine, with any credentials in them masked.
// Pure; bundle_probes_win.cpp asks WinHTTP.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qardex::checkup {

// WinHttpGetIEProxyConfigForCurrentUser's answer.
struct UserProxySettings {
  std::optional<std::uint32_t> error;  // the call failed with this
  bool autoDetect = false;
  std::string scriptUrl;  // the configuration script's URL
  std::string proxy;
  std::string bypass;
};

// WinHttpGetDefaultProxyConfiguration's answer.
struct MachineProxySettings {
  std::optional<std::uint32_t> error;
  enum class Access { kDirect, kNamedProxy, kOther } access = Access::kDirect;
  std::string proxy;
  std::string bypass;
};

// `text` (a proxy list, a bypass list or a URL) with the user name and password of every entry
// that carries them ("user:password@host:port", "https=http://user@host") as "***".
std::string MaskProxyCredentials(std::string_view text);

// Lines of "  setting: value", under a title for each of the two, every value masked.
std::string ProxySettingsText(const UserProxySettings& user, const MachineProxySettings& machine);

}  // namespace qardex::checkup
