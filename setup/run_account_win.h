// Who this run is: whether it holds the Administrators group, and whether a SID is its own
// account. Both the folder check and the log-file rule judge owners by them.
#pragma once

#include <windows.h>

namespace qardex::setup {

// The run holds the Administrators group (elevated), as LocalSystem does.
bool RunsElevated();

// `sid` is the account this program runs as.
bool IsRunAccount(PSID sid);

}  // namespace qardex::setup
