#include "messaging/host_registrations.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qardex_extension.h"

namespace qardex::messaging {
namespace {

TEST(HostRegistrations, OnlyOurExtensionsStartTheHost) {
  const std::string chromium = build::kChromiumExtensionOrigin;
  const std::string firefox = build::kFirefoxExtensionId;
  const struct {
    std::vector<std::string> args;
    std::optional<BrowserFamily> family;
  } cases[] = {
      {{chromium}, BrowserFamily::Chromium},
      {{chromium, "--parent-window=1234"}, BrowserFamily::Chromium},
      {{"C:\\Users\\u\\host\\com.qardex.host.firefox.json", firefox}, BrowserFamily::Firefox},
      {{}, std::nullopt},
      {{chromium + "x"}, std::nullopt},  // another extension's page
      {{"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"}, std::nullopt},
      {{"--parent-window=1", chromium}, std::nullopt},  // the origin comes first
      {{firefox}, std::nullopt},                        // Firefox gives the path first
      {{"manifest.json", firefox + ".evil"}, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CallerFamily(c.args), c.family) << (c.args.empty() ? "" : c.args[0]);
  }
}

}  // namespace
}  // namespace qardex::messaging
