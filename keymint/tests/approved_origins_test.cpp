// Which entries of an approved-site list become origins in the browser policies.
#include "keymint/approved_origins.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace qardex::keymint {
namespace {

using registration::ApprovedSite;
using registration::SiteKind;

TEST(FixedNameOrigins, TakesAllowedFixedHostsInOrderOnce) {
  const ApprovedSite sites[] = {
      {SiteKind::Allow, L"HTTPS", L"WWW.Agency.example", registration::kNoZoneMarker},
      {SiteKind::Allow, L"https", L"*.agency.example", registration::kNoZoneMarker},
      {SiteKind::Deny, L"https", L"blocked.example", registration::kNoZoneMarker},
      {SiteKind::Allow, L"http", L"localhost", registration::kNoZoneMarker},
      {SiteKind::Allow, L"https", L"198.51.100.*", registration::kNoZoneMarker},
      {SiteKind::Allow, L"https", nullptr, registration::kTrustedSites},
      {SiteKind::Allow, L"https", L"203.0.113.10", registration::kNoZoneMarker},
      {SiteKind::Allow, L"https", L"www.agency.example", registration::kNoZoneMarker},
  };
  EXPECT_EQ(FixedNameOrigins(sites, std::size(sites)),
            (std::vector<std::string>{"https://www.agency.example", "http://localhost",
                                      "https://203.0.113.10"}));
}

TEST(FixedNameOrigins, RefusesWhatAScriptMustNotCarry) {
  const ApprovedSite cases[] = {
      {SiteKind::Allow, L"https", L"b\u00fccher.example", registration::kNoZoneMarker},
      {SiteKind::Allow, L"https", L"a.example&calc", registration::kNoZoneMarker},
      {SiteKind::Allow, L"ftp", L"files.example", registration::kNoZoneMarker},
  };
  for (const ApprovedSite& site : cases) {
    EXPECT_THROW(FixedNameOrigins(&site, 1), std::invalid_argument);
  }
}

}  // namespace
}  // namespace qardex::keymint
