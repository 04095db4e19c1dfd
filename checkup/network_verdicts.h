// The set-up check's decisions about the road from a page to the local service that the browser
// itself controls: the proxy the user's configuration names for the service's address, and the
// browsers' policies that block pages from this computer's services. Pure; the Windows probes
// gather the facts.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "checkup/finding.h"

namespace qardex::checkup {

// What WinHTTP answered, as the signed-in user, for https://HOST:PORT of the service.
struct ProxyFacts {
  std::string host;                  // the name asked about, with its port
  std::string loopbackHost;          // the page library's name under .localhost
  std::optional<std::string> proxy;  // the proxy text; nullopt or empty: direct
  std::string bypass;                // the exceptions of a proxy set by hand
  bool fromScript = false;           // the answer of a configuration script or of auto-detection
};
Findings JudgeProxy(const ProxyFacts& facts);

// The proxy of a WinHTTP proxy text for an https URL ("p:8080", "http=p:80;https=q:443"); empty
// for a direct connection.
std::string HttpsProxyOf(std::string_view proxyText);
// Whether a bypass list ("<local>;*.example;10.*") exempts `host` (without its port).
bool Bypassed(std::string_view bypassList, std::string_view host);

// One browser's list of sites that may not reach this computer's services.
struct BlockedList {
  std::string browser;  // "Chrome"
  std::string policy;   // "LoopbackNetworkBlockedForUrls"
  std::vector<std::string> patterns;
};
// `sites`: the approved sites as "scheme://host" or "scheme://host:port", a host may start with
// "*." (the site and every name under it).
Findings JudgeBlockedLists(const std::vector<BlockedList>& lists,
                           const std::vector<std::string>& sites);

// Whether a pattern of the browsers' URL lists ("https://a.example", "[*.]example.com",
// "a.example:8443", "*") names at least one page of `site`.
bool PatternMatchesSite(std::string_view pattern, std::string_view site);

}  // namespace qardex::checkup
