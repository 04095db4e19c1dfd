// The approved-site list: the pages that may script the control. Searched in
// order; the first entry whose scheme and domain rule match decides.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qardex::sitelock {

enum class SiteKind : std::uint32_t { Allow = 0, Deny = 1 };

// Zone rules in place of a host pattern (URL security zones: 0 local machine,
// 1 local intranet, 2 trusted sites, 3 internet, 4 restricted sites).
enum ZoneMarker : int {
  kNoZoneMarker = 0,
  kIntranetOrTrusted = -1,
  kLocalMachine = -2,
  kTrustedSites = -3,
};

struct ApprovedSite {
  SiteKind kind;
  const wchar_t* scheme;
  const wchar_t* domain;  // null when a zone marker decides
  ZoneMarker zone;
};

inline constexpr ApprovedSite kApprovedSites[] = {
    {SiteKind::Allow, L"http", L"localhost", kNoZoneMarker},
    {SiteKind::Allow, L"https", L"*.qardex.example", kNoZoneMarker},
    {SiteKind::Allow, L"https", L"*.agency.example", kNoZoneMarker},
    {SiteKind::Allow, L"https", L"203.0.113.10", kNoZoneMarker},
    {SiteKind::Allow, L"https", L"203.0.113.11", kNoZoneMarker},
    // Any address 198.51.100.0 to 198.51.100.255.
    {SiteKind::Allow, L"https", L"198.51.100.*", kNoZoneMarker},
    {SiteKind::Allow, L"https", L"203.0.113.20", kNoZoneMarker},
    {SiteKind::Allow, L"https", L"203.0.113.21", kNoZoneMarker},
    {SiteKind::Allow, L"https", L"203.0.113.22", kNoZoneMarker},
    {SiteKind::Deny, L"https", nullptr, kTrustedSites},
    {SiteKind::Deny, L"http", nullptr, kIntranetOrTrusted},
    {SiteKind::Deny, L"https", nullptr, kLocalMachine},
};
inline constexpr std::size_t kApprovedSiteCount = sizeof kApprovedSites / sizeof kApprovedSites[0];
static_assert(kApprovedSiteCount == 12);

}  // namespace qardex::sitelock
