// The machine's listening TCP sockets (IPv4) and their owners, as the system reports them.
#pragma once

#include "setup/port_holder.h"

namespace qardex::setup {

ListenerTable& SystemListenerTable();

}  // namespace qardex::setup
