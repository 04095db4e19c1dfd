// The hosts-file operations on Windows files.
#pragma once

#include "setup/hosts_update.h"

namespace qardex::setup {

HostsFiles& SystemHostsFiles();

}  // namespace qardex::setup
