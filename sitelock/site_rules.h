// Whether a hosting page may script the control: its address's parts and
// security zone checked against the approved-site list. Pure rules; the
// Windows side gathers the address and zone from the browser.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "sitelock/approved_sites.h"

namespace qardex::sitelock {

// The hosting page as the browser describes it.
struct PageAddress {
  std::wstring scheme;
  std::wstring host;
  bool hasUserName = false;
  bool hasPassword = false;
  int zone = 3;
};

// Turns a host with characters above 127 into its ASCII (IDNA) form, or nothing.
using IdnConverter = std::function<std::optional<std::wstring>(const std::wstring&)>;

inline constexpr std::size_t kHostLimit = 256;

// Does one domain rule match? Comparisons are case-sensitive; an empty host
// matches no pattern.
bool ZoneMarkerMatches(ZoneMarker marker, int zone);
bool DomainPatternMatches(std::wstring_view pattern, std::wstring_view host);

// The walk through the list for a host already in ASCII.
bool ListApproves(std::wstring_view scheme, std::wstring_view host, int zone);

// The whole check: user information, IDN conversion, then the list. A host
// written with capitals or a trailing dot gains nothing its plain form would
// not: both forms must be approved.
bool IsApprovedPage(const PageAddress& page, const IdnConverter& toAscii);

}  // namespace qardex::sitelock
