#include "setup/trusted_root.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "qardex_constants.h"

namespace qardex::setup {

namespace {

bool SameHostName(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

// The address followed by an all-ones mask, as the extension encodes one host.
std::optional<std::vector<std::uint8_t>> SingleHostSubtree(std::string_view address) {
  unsigned parts[4];
  char end = 0;
  const std::string text(address);
  if (std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u%c", &parts[0], &parts[1], &parts[2], &parts[3],
                  &end) != 4) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> subtree(8, 0xff);
  for (std::size_t i = 0; i < 4; ++i) {
    if (parts[i] > 255) return std::nullopt;
    subtree[i] = static_cast<std::uint8_t>(parts[i]);
  }
  return subtree;
}

}  // namespace

bool ConfinedTo(const RootFacts& facts, std::string_view host, std::string_view address,
                std::string_view otherHost) {
  const std::optional<std::vector<std::uint8_t>> hostSubtree = SingleHostSubtree(address);
  if (!facts.isCa || !facts.hasCriticalNameConstraints || !hostSubtree) return false;
  bool dns = false;
  bool ip = false;
  for (const PermittedName& name : facts.permitted) {
    switch (name.kind) {
      case PermittedName::Kind::kDns:
        if (!SameHostName(name.dnsName, host) &&
            (otherHost.empty() || !SameHostName(name.dnsName, otherHost))) {
          return false;
        }
        dns = true;
        break;
      case PermittedName::Kind::kIpAddress:
        if (name.addressAndMask != *hostSubtree) return false;
        ip = true;
        break;
      case PermittedName::Kind::kOther:
        return false;
    }
  }
  return dns && ip;
}

bool IsLocalServiceRootName(std::string_view organization, std::string_view commonName) {
  const std::string_view prefix = build::kLocalRootNamePrefix;
  return organization == build::kLocalRootOrganization &&
         commonName.substr(0, prefix.size()) == prefix;
}

}  // namespace qardex::setup
