#include <gtest/gtest.h>

#include "sitelock/localhost_ports.h"
#include "sitelock/site_rules.h"

namespace qardex::sitelock {
namespace {

constexpr int kLocalMachineZone = 0;
constexpr int kIntranetZone = 1;
constexpr int kTrustedZone = 2;
constexpr int kInternetZone = 3;

std::optional<std::wstring> FakePunycode(const std::wstring& host) {
  // Stands in for the platform's converter: one known name, else a failure.
  if (host == L"\u00e9t\u00e9.qardex.example") return std::wstring(L"xn--t-9fa9a.qardex.example");
  if (host == L"\u00fcber.example") return std::wstring(L"xn--ber-goa.example");
  return std::nullopt;
}

bool Approved(const std::wstring& scheme, const std::wstring& host, int zone = kInternetZone,
              bool user = false, bool password = false) {
  return IsApprovedPage(PageAddress{scheme, host, user, password, zone}, FakePunycode);
}

TEST(SiteRules, LocalhostOnlyOverHttp) {
  EXPECT_TRUE(Approved(L"http", L"localhost"));
  EXPECT_TRUE(Approved(L"http", L"dev.localhost"));  // any name ending in a dot and localhost
  EXPECT_FALSE(Approved(L"https", L"localhost"));
  EXPECT_FALSE(Approved(L"http", L"notlocalhost"));
  EXPECT_FALSE(Approved(L"HTTP", L"localhost"));  // schemes compare exactly
}

TEST(SiteRules, WildcardDomainsNeedAFurtherLabel) {
  EXPECT_TRUE(Approved(L"https", L"www.qardex.example"));
  EXPECT_TRUE(Approved(L"https", L"a.b.agency.example"));
  EXPECT_FALSE(Approved(L"https", L"qardex.example"));
  EXPECT_FALSE(Approved(L"http", L"www.qardex.example"));
  // Look-alikes.
  EXPECT_FALSE(Approved(L"https", L"qardex.example.evil.example"));
  EXPECT_FALSE(Approved(L"https", L"xqardex.example"));
  EXPECT_FALSE(Approved(L"https", L"www.qardex.example.evil"));
}

TEST(SiteRules, FixedAddressesAndTheRange) {
  for (const wchar_t* host :
       {L"203.0.113.10", L"203.0.113.11", L"203.0.113.20", L"203.0.113.21", L"203.0.113.22",
        L"198.51.100.0", L"198.51.100.7", L"198.51.100.255"}) {
    EXPECT_TRUE(Approved(L"https", host)) << host;
  }
  for (const wchar_t* host :
       {L"203.0.113.12", L"198.51.100.256", L"198.51.100.", L"198.51.100.*", L"198.51.100.007",
        L"198.51.100.1.2", L"198.51.100.-1", L"x198.51.100.1", L"198.51.101.1"}) {
    EXPECT_FALSE(Approved(L"https", host)) << host;
  }
  // A plain address entry also admits names that end in a dot and the address.
  EXPECT_TRUE(DomainPatternMatches(L"203.0.113.10", L"x.203.0.113.10"));
}

TEST(SiteRules, UserInformationIsRefusedForWebSchemes) {
  EXPECT_FALSE(Approved(L"https", L"www.qardex.example", kInternetZone, true, false));
  EXPECT_FALSE(Approved(L"https", L"www.qardex.example", kInternetZone, false, true));
  EXPECT_FALSE(Approved(L"http", L"localhost", kInternetZone, true, true));
}

TEST(SiteRules, ZoneMarkersDenyWhatNoAllowEntryCovers) {
  EXPECT_FALSE(Approved(L"https", L"unlisted.example", kTrustedZone));       // entry 10
  EXPECT_FALSE(Approved(L"http", L"intranet-host", kIntranetZone));          // entry 11
  EXPECT_FALSE(Approved(L"https", L"unlisted.example", kLocalMachineZone));  // entry 12
  EXPECT_FALSE(Approved(L"https", L"unlisted.example", kInternetZone));      // nothing matches
  // An allow entry earlier in the list wins over the zone.
  EXPECT_TRUE(Approved(L"https", L"www.qardex.example", kTrustedZone));
  EXPECT_TRUE(ZoneMarkerMatches(kIntranetOrTrusted, 2));
  EXPECT_FALSE(ZoneMarkerMatches(kIntranetOrTrusted, 0));
  EXPECT_FALSE(ZoneMarkerMatches(kTrustedSites, 1));
  EXPECT_TRUE(ZoneMarkerMatches(kLocalMachine, 0));
}

TEST(SiteRules, InternationalNamesAreComparedInAsciiForm) {
  EXPECT_TRUE(Approved(L"https", L"\u00e9t\u00e9.qardex.example"));
  EXPECT_FALSE(Approved(L"https", L"\u00fcber.example"));
  EXPECT_FALSE(Approved(L"https", L"\u00e0.qardex.example"));  // conversion fails
  EXPECT_FALSE(IsApprovedPage(PageAddress{L"https", L"\u00e9t\u00e9.qardex.example"}, nullptr));
}

TEST(SiteRules, CapitalsTrailingDotsAndEmptyHostsGainNothing) {
  EXPECT_FALSE(Approved(L"https", L"WWW.QARDEX.EXAMPLE"));
  EXPECT_FALSE(Approved(L"http", L"LocalHost"));
  EXPECT_FALSE(Approved(L"http", L"localhost."));
  EXPECT_FALSE(Approved(L"https", L"www.qardex.example."));
  EXPECT_FALSE(Approved(L"https", L"", kInternetZone));
  EXPECT_FALSE(DomainPatternMatches(L"*", L""));
  EXPECT_TRUE(DomainPatternMatches(L"*", L"anything"));
  EXPECT_TRUE(DomainPatternMatches(L"=exact.example", L"exact.example"));
  EXPECT_FALSE(DomainPatternMatches(L"=exact.example", L"sub.exact.example"));
  // A page that would be refused by a deny entry stays refused in any spelling.
  EXPECT_FALSE(Approved(L"http", L"INTRANET.", kIntranetZone));
}

// The LocalhostPorts policy text, read by the same rule as FoxTrust.cmd reads it.
TEST(SiteRules, LocalhostPortsText) {
  using Ports = std::vector<std::uint16_t>;
  const auto Ones = [](std::size_t count) {
    std::string text;
    while (count-- > 0) text += "1,";
    return text;
  };
  const struct {
    std::string text;
    std::optional<Ports> ports;
  } cases[] = {
      {"", Ports{}},
      {" , ", Ports{}},
      {"8081", Ports{8081}},
      {"8443, 8081,8081 ", Ports{8081, 8443}},
      {"1 65535", Ports{1, 65535}},
      {"65536", std::nullopt},
      {"123456", std::nullopt},
      {"0", std::nullopt},
      {"08081", std::nullopt},
      {"8081;8082", std::nullopt},
      {"8081\t8082", std::nullopt},
      {"8081,-1", std::nullopt},
      {"8081," + std::string(kLocalhostPortsTextLimit, ' '), std::nullopt},
      {Ones(kLocalhostPortsLimit), Ports{1}},
      {Ones(kLocalhostPortsLimit + 1), std::nullopt},  // more numbers than a list may have
  };
  for (const auto& c : cases) {
    const std::optional<LocalhostPorts> parsed = ParseLocalhostPorts(c.text);
    EXPECT_EQ(parsed ? std::optional<Ports>(parsed->ports) : std::nullopt, c.ports) << c.text;
  }
}

}  // namespace
}  // namespace qardex::sitelock
