// The Service Control Manager of the local machine.
#pragma once

#include "setup/service_manager.h"

namespace qardex::setup {

ServiceControl& SystemServiceControl();

}  // namespace qardex::setup
