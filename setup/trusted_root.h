// Which certificate the installer may put into the machine's trusted roots, and which roots
// there are the local service's own. Pure: the Windows side decodes a certificate into these
// facts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qardex::setup {

// One permitted subtree of a name-constraints extension.
struct PermittedName {
  enum class Kind { kDns, kIpAddress, kOther };
  Kind kind = Kind::kOther;
  std::string dnsName;                       // kDns
  std::vector<std::uint8_t> addressAndMask;  // kIpAddress: 8 bytes for IPv4, 32 for IPv6
};

struct RootFacts {
  bool isCa = false;
  bool hasCriticalNameConstraints = false;
  std::vector<PermittedName> permitted;
};

// A CA certificate whose critical name constraints permit the DNS name `host` (and names
// under it), `otherHost` too when given, and the single IPv4 address `address`, and nothing
// else. Both kinds must be listed: a kind without a permitted subtree is not constrained at all.
bool ConfinedTo(const RootFacts& facts, std::string_view host, std::string_view address,
                std::string_view otherHost = {});

// The subject every root of the certificate tool carries: the organisation and a common name
// that starts with the fixed prefix (the time of the run follows it).
bool IsLocalServiceRootName(std::string_view organization, std::string_view commonName);

}  // namespace qardex::setup
