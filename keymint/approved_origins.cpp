#include "keymint/approved_origins.h"

#include <algorithm>
#include <cwchar>
#include <stdexcept>

#include "sitelock/localhost_ports.h"

namespace qardex::keymint {

namespace {

// Lower-case ASCII text of `wide`, or nothing when a character is outside `allowed`.
bool NarrowFrom(const wchar_t* wide, const char* allowed, std::string* narrow) {
  narrow->clear();
  for (const wchar_t* c = wide; *c != L'\0'; ++c) {
    wchar_t lower = *c;
    if (lower >= L'A' && lower <= L'Z') lower = static_cast<wchar_t>(lower - L'A' + L'a');
    if (lower > 0x7f || std::string(allowed).find(static_cast<char>(lower)) == std::string::npos) {
      return false;
    }
    narrow->push_back(static_cast<char>(lower));
  }
  return !narrow->empty();
}

}  // namespace

std::vector<std::string> FixedNameOrigins(const sitelock::ApprovedSite* sites, std::size_t count) {
  std::vector<std::string> origins;
  for (std::size_t i = 0; i < count; ++i) {
    const sitelock::ApprovedSite& site = sites[i];
    if (site.kind != sitelock::SiteKind::Allow || site.domain == nullptr ||
        std::wcschr(site.domain, L'*') != nullptr) {
      continue;
    }
    std::string scheme;
    std::string host;
    if (!NarrowFrom(site.scheme, "abcdefghijklmnopqrstuvwxyz", &scheme) ||
        (scheme != "http" && scheme != "https")) {
      throw std::invalid_argument("approved site " + std::to_string(i + 1) +
                                  ": scheme is not http or https");
    }
    if (!NarrowFrom(site.domain, "abcdefghijklmnopqrstuvwxyz0123456789.-", &host)) {
      throw std::invalid_argument("approved site " + std::to_string(i + 1) +
                                  ": host is not a plain ASCII name or address");
    }
    const std::string origin = scheme + "://" + host;
    if (std::find(origins.begin(), origins.end(), origin) == origins.end()) {
      origins.push_back(origin);
    }
  }
  return origins;
}

PolicyOrigins ByLocalhostRule(const std::vector<std::string>& origins) {
  PolicyOrigins split;
  for (const std::string& origin : origins) {
    const std::size_t separator = origin.find("://");
    const std::string host = separator == std::string::npos ? origin : origin.substr(separator + 3);
    if (!sitelock::IsLocalhostName(std::wstring(host.begin(), host.end()))) {
      split.anyPort.push_back(origin);
    } else if (host == "localhost") {
      split.listedPortsOnly.push_back(origin);
    }
  }
  return split;
}

std::vector<std::string> ListedOrigins(const PolicyOrigins& origins,
                                       const std::vector<std::uint16_t>& ports) {
  std::vector<std::string> listed;
  for (const std::string& origin : origins.listedPortsOnly) {
    for (const std::uint16_t port : ports) listed.push_back(origin + ":" + std::to_string(port));
  }
  listed.insert(listed.end(), origins.anyPort.begin(), origins.anyPort.end());
  return listed;
}

std::vector<std::string> HostsOf(const std::vector<std::string>& origins) {
  std::vector<std::string> hosts;
  for (const std::string& origin : origins) {
    const std::size_t separator = origin.find("://");
    const std::string host = separator == std::string::npos ? origin : origin.substr(separator + 3);
    if (std::find(hosts.begin(), hosts.end(), host) == hosts.end()) hosts.push_back(host);
  }
  return hosts;
}

}  // namespace qardex::keymint
