// The origins of the approved-site list that browsers' policies can name: entries that allow a
// fixed host (no wildcard, no zone rule), as "scheme://host".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sitelock/approved_sites.h"

namespace qardex::keymint {

// In table order, without repeats. Throws std::invalid_argument for a fixed host that is not a
// plain ASCII name or address, or a scheme other than http and https: the policy scripts are
// made from these texts and must not carry anything else.
std::vector<std::string> FixedNameOrigins(const sitelock::ApprovedSite* sites, std::size_t count);

// The origins as the browser policies list them. A page on this machine's own name reaches the
// local service only on the ports of the LocalhostPorts policy (sitelock/localhost_ports.h), so
// "http://localhost" is listed once per such port, read when the script runs; a name under
// "localhost" is never approved and never listed.
struct PolicyOrigins {
  std::vector<std::string> anyPort;
  std::vector<std::string> listedPortsOnly;
};
PolicyOrigins ByLocalhostRule(const std::vector<std::string>& origins);

// What FoxTrust.cmd lists with those ports: each origin of `listedPortsOnly` with each port,
// then `anyPort`.
std::vector<std::string> ListedOrigins(const PolicyOrigins& origins,
                                       const std::vector<std::uint16_t>& ports);

// The host of each origin ("scheme://host" -> "host"), in order and once: what Firefox's policy
// LocalNetworkAccess lists (SkipDomains names the pages' hosts, whatever their scheme).
std::vector<std::string> HostsOf(const std::vector<std::string>& origins);

}  // namespace qardex::keymint
