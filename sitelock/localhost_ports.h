// Pages on this machine's own name, for every road to the card but the control. Every user of a
// machine shares its loopback ports (on a terminal server, dozens of users), so a page on
// http://localhost is only as trustworthy as whoever holds its port: such a page is approved
// only on the ports an administrator lists, and names under "localhost" never are. The control
// keeps the approved-site list's own rule (it lives in the user's browser, not in a service
// every session reaches). Pure rules: the caller reads the policy text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sitelock/site_rules.h"

namespace qardex::sitelock {

// The administrator's list. The policy text: at most kLocalhostPortsLimit decimal port numbers
// (1 to 65535, no leading zero) separated by commas or blanks, e.g. "8081, 8443". FoxTrust.cmd
// reads the same value by the same rule.
struct LocalhostPorts {
  std::vector<std::uint16_t> ports;  // ascending, each once

  bool Lists(std::uint16_t port) const;
};

inline constexpr std::size_t kLocalhostPortsLimit = 32;
// A longer text is not an administrator's list (the service reads no more).
inline constexpr std::size_t kLocalhostPortsTextLimit = 1024;

// The ports of a policy text; nothing when any part of it breaks the rule (a list that is half
// wrong lists nothing, so that a typing error cannot approve a port nobody meant).
std::optional<LocalhostPorts> ParseLocalhostPorts(std::string_view text);

// What the registry holds for the policy value.
struct PolicyText {
  enum class State { Absent, Text, Unreadable };
  State state = State::Absent;
  std::string text;         // State::Text: the value, characters above 127 as '?'
  std::uint32_t error = 0;  // State::Unreadable: why (a Windows error number)
};

// The value LocalhostPorts under HKLM\SOFTWARE\Policies\QARDEX (Windows), for the service and
// the set-up check.
PolicyText ReadLocalhostPortsPolicy();

// The ports of what was read: none unless it is a list by the rule.
LocalhostPorts LocalhostPortsOf(const PolicyText& read);

// "localhost" or a name under it, in any letter case, with or without the root's trailing dot.
inline bool IsLocalhostName(std::wstring_view host) {
  constexpr std::wstring_view kName = L"localhost";
  if (!host.empty() && host.back() == L'.') host.remove_suffix(1);
  if (host.size() < kName.size()) return false;
  const std::wstring_view tail = host.substr(host.size() - kName.size());
  for (std::size_t i = 0; i < kName.size(); ++i) {
    const wchar_t c = tail[i];
    if ((c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c) != kName[i]) return false;
  }
  return host.size() == kName.size() || host[host.size() - kName.size() - 1] == L'.';
}

// A page origin (scheme, host in ASCII as browsers write origins, effective port) checked for a
// road other than the control: the approved-site list as for a hosting page, and then a
// localhost name only as exactly "localhost" on a listed port. Any other host with a character
// above 127 is refused (an origin carries the ASCII form of an international name).
bool IsApprovedOrigin(const PageAddress& page, std::uint16_t port, const LocalhostPorts& ports);

}  // namespace qardex::sitelock
