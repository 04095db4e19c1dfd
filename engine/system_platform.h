// The platform the library runs on: WinSCard, Windows Sockets with the user's proxy, libcrypto,
// the system's message texts and clock.
#pragma once

#include "engine/platform.h"

namespace qardex::engine {

Platform& SystemPlatform();

}  // namespace qardex::engine
