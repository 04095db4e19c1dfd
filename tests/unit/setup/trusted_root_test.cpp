#include "setup/trusted_root.h"

#include <gtest/gtest.h>

namespace qardex::setup {
namespace {

PermittedName Dns(const char* name) { return {PermittedName::Kind::kDns, name, {}}; }
PermittedName Ip(std::vector<std::uint8_t> addressAndMask) {
  return {PermittedName::Kind::kIpAddress, "", std::move(addressAndMask)};
}
const PermittedName kHost = Dns("local.qardex.example");
const PermittedName kLoopback = Ip({127, 0, 0, 1, 255, 255, 255, 255});

TEST(TrustedRoot, OnlyACaConfinedToTheServiceNamesIsTrusted) {
  struct Case {
    const char* what;
    RootFacts facts;
    bool trusted;
  };
  const Case cases[] = {
      {"the tool's root", {true, true, {kHost, kLoopback}}, true},
      {"host name in other case", {true, true, {Dns("LOCAL.Qardex.Example"), kLoopback}}, true},
      {"not a CA", {false, true, {kHost, kLoopback}}, false},
      {"constraints not critical or missing", {true, false, {kHost, kLoopback}}, false},
      {"no address subtree leaves every address open", {true, true, {kHost}}, false},
      {"no DNS subtree leaves every host open", {true, true, {kLoopback}}, false},
      {"a parent domain beside", {true, true, {kHost, Dns("qardex.example"), kLoopback}}, false},
      {"a network", {true, true, {kHost, Ip({127, 0, 0, 0, 255, 0, 0, 0})}}, false},
      {"an IPv6 subtree",
       {true, true, {kHost, kLoopback, Ip(std::vector<std::uint8_t>(32))}},
       false},
      {"another kind of name", {true, true, {kHost, kLoopback, PermittedName{}}}, false},
      {"the name under .localhost beside",
       {true, true, {kHost, Dns("local.qardex.localhost"), kLoopback}},
       true},
      {"another name under .localhost",
       {true, true, {kHost, Dns("x.localhost"), kLoopback}},
       false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ConfinedTo(c.facts, "local.qardex.example", "127.0.0.1", "local.qardex.localhost"),
              c.trusted)
        << c.what;
  }
}

TEST(TrustedRoot, OwnRootsAreKnownByOrganisationAndNamePrefix) {
  EXPECT_TRUE(IsLocalServiceRootName("QARDEX", "QARDEX Local Service Root 2026-12-08 16:00:00Z"));
  EXPECT_FALSE(IsLocalServiceRootName("Other", "QARDEX Local Service Root 2026-12-08 16:00:00Z"));
  EXPECT_FALSE(IsLocalServiceRootName("QARDEX", "local.qardex.example"));  // a server certificate
}

}  // namespace
}  // namespace qardex::setup
