// The Windows registry behind the registration script.
#pragma once

#include "registration/registry_script.h"

namespace qardex::registration {

// Names and texts of the script are UTF-8; the registry gets UTF-16.
RegistryEditor& SystemRegistry();

}  // namespace qardex::registration
