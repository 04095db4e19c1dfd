// The origins of the approved-site list that browsers' policies can name: entries that allow a
// fixed host (no wildcard, no zone rule), as "scheme://host".
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "sitelock/approved_sites.h"

namespace qardex::keymint {

// In table order, without repeats. Throws std::invalid_argument for a fixed host that is not a
// plain ASCII name or address, or a scheme other than http and https: the policy scripts are
// made from these texts and must not carry anything else.
std::vector<std::string> FixedNameOrigins(const sitelock::ApprovedSite* sites,
                                          std::size_t count);

}  // namespace qardex::keymint
