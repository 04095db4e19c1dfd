// The hosting page's address and zone, found through the control's site, and
// the platform's IDN conversion.
#pragma once

#include <unknwn.h>

#include <optional>
#include <string>

#include "sitelock/site_rules.h"

namespace qardex::sitelock {

// Nothing when any step fails (the page is then not approved).
std::optional<PageAddress> FindHostingPage(IUnknown* site);

// IdnToAscii with "use STD3 ASCII rules" from normaliz.dll in the system folder.
std::optional<std::wstring> SystemIdnToAscii(const std::wstring& host);

// The whole site check for a control with this site.
bool IsSiteApproved(IUnknown* site);

}  // namespace qardex::sitelock
