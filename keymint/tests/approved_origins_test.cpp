// Which entries of an approved-site list become origins in the browser policies.
#include "keymint/approved_origins.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace qardex::keymint {
namespace {

using sitelock::ApprovedSite;
using sitelock::SiteKind;

TEST(FixedNameOrigins, TakesAllowedFixedHostsInOrderOnce) {
  const ApprovedSite sites[] = {
      {SiteKind::Allow, L"HTTPS", L"WWW.Agency.example", sitelock::kNoZoneMarker},
      {SiteKind::Allow, L"https", L"*.agency.example", sitelock::kNoZoneMarker},
      {SiteKind::Deny, L"https", L"blocked.example", sitelock::kNoZoneMarker},
      {SiteKind::Allow, L"http", L"localhost", sitelock::kNoZoneMarker},
      {SiteKind::Allow, L"https", L"198.51.100.*", sitelock::kNoZoneMarker},
      {SiteKind::Allow, L"https", nullptr, sitelock::kTrustedSites},
      {SiteKind::Allow, L"https", L"203.0.113.10", sitelock::kNoZoneMarker},
      {SiteKind::Allow, L"https", L"www.agency.example", sitelock::kNoZoneMarker},
  };
  EXPECT_EQ(FixedNameOrigins(sites, std::size(sites)),
            (std::vector<std::string>{"https://www.agency.example", "http://localhost",
                                      "https://203.0.113.10"}));
}

TEST(FixedNameOrigins, LocalhostOnlyWithTheListedPorts) {
  const PolicyOrigins split = ByLocalhostRule({"http://localhost", "https://www.agency.example",
                                               "http://dev.localhost", "https://a.local"});
  EXPECT_EQ(split.listedPortsOnly, std::vector<std::string>{"http://localhost"});
  EXPECT_EQ(split.anyPort,
            (std::vector<std::string>{"https://www.agency.example", "https://a.local"}));
}

TEST(FixedNameOrigins, FirefoxListsEachHostOnceWhateverItsScheme) {
  EXPECT_EQ(HostsOf({"https://a.example", "http://a.example", "https://203.0.113.10"}),
            (std::vector<std::string>{"a.example", "203.0.113.10"}));
}

TEST(FixedNameOrigins, RefusesWhatAScriptMustNotCarry) {
  const ApprovedSite cases[] = {
      {SiteKind::Allow, L"https", L"b\u00fccher.example", sitelock::kNoZoneMarker},
      {SiteKind::Allow, L"https", L"a.example&calc", sitelock::kNoZoneMarker},
      {SiteKind::Allow, L"ftp", L"files.example", sitelock::kNoZoneMarker},
  };
  for (const ApprovedSite& site : cases) {
    EXPECT_THROW(FixedNameOrigins(&site, 1), std::invalid_argument);
  }
}

}  // namespace
}  // namespace qardex::keymint
