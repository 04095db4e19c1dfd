// The two component categories that declare the control safe.
#pragma once

#include <windows.h>

namespace qardex::registration {

// Registers "safe for initialising" and "safe for scripting" and records
// that the class implements each, in that order; the first failure is returned.
HRESULT RegisterSafetyCategories();

}  // namespace qardex::registration
