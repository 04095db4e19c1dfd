// Which requests the service answers at all: the page's Origin must be approved
// by the same rules as the control's site lock, and the Host header must name
// the service exactly (a defence against DNS rebinding).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sitelock/localhost_ports.h"

namespace qardex::service {

enum class OriginVerdict { Approved, Missing, Refused };

struct OriginCheck {
  OriginVerdict verdict = OriginVerdict::Refused;
  // The approved origin in its canonical form (scheme and host in lower case, no port when it
  // is the scheme's default, else the port in plain decimal): what sessions are bound to and
  // counted by, so that "https://a.example" and "https://a.example:443" are one page. Empty
  // unless approved.
  std::string origin;
};

// An Origin header as browsers write it: scheme "://" host [":" port], nothing
// else. Scheme and host are checked against the approved-site list exactly as
// for a hosting page, and a page on a localhost name by the rule for roads other than the
// control (sitelock/localhost_ports.h) with the administrator's `localhostPorts`. An origin
// carries no security zone, so the list's zone entries never match one (neither allow nor
// deny). "null" (opaque origins: files, sandboxed frames, data URLs) and the service's own host
// are refused.
OriginCheck CheckOrigin(std::optional<std::string_view> origin,
                        const sitelock::LocalhostPorts& localhostPorts);

// The canonical form of an origin text that has the form CheckOrigin reads, approved or not;
// nothing for any other text.
std::optional<std::string> CanonicalOrigin(std::string_view origin);

// "<local service host>:<port>": the Host of the service's own name.
std::string ServiceHostHeader();
// Whether `host` is a Host header the service answers: ServiceHostHeader(), or its name under
// .localhost with the port.
bool IsServiceHostHeader(std::optional<std::string_view> host);

}  // namespace qardex::service
