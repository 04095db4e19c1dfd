// Which requests the service answers at all: the page's Origin must be approved
// by the same rules as the control's site lock, and the Host header must name
// the service exactly (a defence against DNS rebinding).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qardex::service {

enum class OriginVerdict { Approved, Missing, Refused };

// An Origin header as browsers write it: scheme "://" host [":" port], nothing
// else. Scheme and host are checked against the approved-site list exactly as
// for a hosting page; the port plays no part. An origin carries no security
// zone, so the list's zone entries never match one (neither allow nor deny).
// "null" (opaque origins: files, sandboxed frames, data URLs) and the service's own host
// are refused.
OriginVerdict CheckOrigin(std::optional<std::string_view> origin);

// "<local service host>:<port>", the only Host the service answers.
std::string ServiceHostHeader();

}  // namespace qardex::service
