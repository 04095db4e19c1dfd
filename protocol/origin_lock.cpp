#include "protocol/origin_lock.h"

#include <cstdint>

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

// "0" to "65535", leading zeros allowed (a browser writes none; the canonical form drops them).
std::optional<std::uint16_t> PortOf(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

// The port a browser connects to when the origin names none.
std::uint16_t DefaultPort(std::string_view scheme) {
  if (scheme == "http") return 80;
  if (scheme == "https") return 443;
  return 0;
}

// An origin split into its parts; the views point into the header's text.
struct OriginParts {
  std::string_view scheme;
  std::string_view host;
  std::uint16_t port = 0;  // the scheme's default when the origin names none
};

std::optional<OriginParts> Split(std::string_view text) {
  const std::size_t separator = text.find("://");
  if (separator == std::string_view::npos || separator == 0) return std::nullopt;
  OriginParts parts;
  parts.scheme = text.substr(0, separator);
  for (std::size_t i = 0; i < parts.scheme.size(); ++i) {
    if (!IsSchemeChar(parts.scheme[i], i == 0)) return std::nullopt;
  }
  parts.host = text.substr(separator + 3);
  for (const char c : parts.host) {
    if (!IsHostChar(c)) return std::nullopt;  // path, user information, non-ASCII
  }
  parts.port = DefaultPort(parts.scheme);
  // The port follows the last colon outside an IPv6 literal's brackets.
  const std::size_t colon = parts.host.rfind(':');
  if (colon != std::string_view::npos && parts.host.find(']', colon) == std::string_view::npos) {
    const std::optional<std::uint16_t> port = PortOf(parts.host.substr(colon + 1));
    if (!port) return std::nullopt;
    parts.port = *port;
    parts.host = parts.host.substr(0, colon);
  }
  if (parts.host.empty() || parts.host.size() > sitelock::kHostLimit) return std::nullopt;
  return parts;
}

std::wstring Widen(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string CanonicalText(const OriginParts& parts) {
  std::string text(parts.scheme);
  text += "://";
  for (const char c : parts.host) text.push_back(Lower(c));
  if (parts.port != DefaultPort(parts.scheme)) text += ":" + std::to_string(parts.port);
  return text;
}

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

OriginCheck CheckOrigin(std::optional<std::string_view> origin,
                        const sitelock::LocalhostPorts& localhostPorts) {
  if (!origin) return {OriginVerdict::Missing, {}};
  const std::optional<OriginParts> parts = Split(*origin);
  if (!parts || IsServiceHost(parts->host)) return {};

  sitelock::PageAddress page;
  page.scheme = Widen(parts->scheme);
  page.host = Widen(parts->host);
  page.zone = kNoZone;
  if (!sitelock::IsApprovedOrigin(page, parts->port, localhostPorts)) return {};
  return {OriginVerdict::Approved, CanonicalText(*parts)};
}

std::optional<std::string> CanonicalOrigin(std::string_view origin) {
  const std::optional<OriginParts> parts = Split(origin);
  if (!parts) return std::nullopt;
  return CanonicalText(*parts);
}

std::string ServiceHostHeader() {
  return std::string(build::kLocalServiceHost) + ":" + std::to_string(build::kLocalServicePort);
}

bool IsServiceHostHeader(std::optional<std::string_view> host) {
  static const std::string loopbackHost = std::string(build::kLocalServiceLoopbackHost) + ":" +
                                          std::to_string(build::kLocalServicePort);
  return host && (*host == ServiceHostHeader() || *host == loopbackHost);
}

}  // namespace qardex::service
