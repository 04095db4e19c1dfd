#include "service/origin_lock.h"

#include "qardex_constants.h"
#include "sitelock/site_rules.h"

namespace qardex::service {

namespace {

// No URL security zone has this number, so no zone marker matches it.
constexpr int kNoZone = -1;

bool IsSchemeChar(char c, bool first) {
  if (c >= 'a' && c <= 'z') return true;
  if (first) return false;
  return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// Host characters a browser writes in an origin (ASCII; IDNs are in punycode).
bool IsHostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '[' || c == ']' || c == ':';
}

bool IsPort(std::string_view text) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value <= 65535;
}

std::wstring Widen(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The service's own name, in any case and with or without the root's trailing dot. A page
// served under that name would be the service itself, or whoever took its name over: it may
// never call the service, whatever pattern of the approved-site list it falls under.
bool IsServiceHost(std::string_view host) {
  if (!host.empty() && host.back() == '.') host.remove_suffix(1);
  const std::string_view own = build::kLocalServiceHost;
  if (host.size() != own.size()) return false;
  for (std::size_t i = 0; i < host.size(); ++i) {
    if (Lower(host[i]) != Lower(own[i])) return false;
  }
  return true;
}

}  // namespace

OriginVerdict CheckOrigin(std::optional<std::string_view> origin) {
  if (!origin) return OriginVerdict::Missing;
  const std::string_view text = *origin;
  const std::size_t separator = text.find("://");
  if (separator == std::string_view::npos || separator == 0) return OriginVerdict::Refused;
  const std::string_view scheme = text.substr(0, separator);
  for (std::size_t i = 0; i < scheme.size(); ++i) {
    if (!IsSchemeChar(scheme[i], i == 0)) return OriginVerdict::Refused;
  }
  std::string_view host = text.substr(separator + 3);
  for (const char c : host) {
    if (!IsHostChar(c)) return OriginVerdict::Refused;  // path, user information, non-ASCII
  }
  // The port follows the last colon outside an IPv6 literal's brackets.
  const std::size_t colon = host.rfind(':');
  if (colon != std::string_view::npos && host.find(']', colon) == std::string_view::npos) {
    if (!IsPort(host.substr(colon + 1))) return OriginVerdict::Refused;
    host = host.substr(0, colon);
  }
  if (host.empty() || host.size() > sitelock::kHostLimit) return OriginVerdict::Refused;
  if (IsServiceHost(host)) return OriginVerdict::Refused;

  sitelock::PageAddress page;
  page.scheme = Widen(scheme);
  page.host = Widen(host);
  page.zone = kNoZone;
  return sitelock::IsApprovedPage(page, nullptr) ? OriginVerdict::Approved : OriginVerdict::Refused;
}

std::string ServiceHostHeader() {
  return std::string(build::kLocalServiceHost) + ":" + std::to_string(build::kLocalServicePort);
}

}  // namespace qardex::service
