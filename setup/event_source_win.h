// The local service's event source in the Application log (named as the service): the
// installer names the service's program as the file of its messages, the uninstaller takes the
// source away. Without it Event Viewer shows the service's events without their texts.
#pragma once

#include <string>

#include "setup/system_errors.h"

namespace qardex::setup {

// The source's key under HKEY_LOCAL_MACHINE.
std::string ServiceEventSourceKey();

// Creates or updates the source for `serviceProgram` (a full path). 0 or the system error.
SystemError RegisterServiceEventSource(const std::string& serviceProgram);

// Deletes the source; 0 also when there was none.
SystemError RemoveServiceEventSource();

}  // namespace qardex::setup
