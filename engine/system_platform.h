// The platform the library runs on: WinSCard, Windows Sockets with the user's proxy, libcrypto,
// the system's message texts and clock.
#pragma once

#include <memory>

#include "engine/platform.h"

namespace qardex::cloud {
class KeyPairSource;
}

namespace qardex::engine {

// Each call makes its own client key pair (the control).
Platform& SystemPlatform();
// Each call takes its client key pair from `clientKeys`, which outlives the platform (the worker).
std::unique_ptr<Platform> SystemPlatformWithKeys(cloud::KeyPairSource& clientKeys);

}  // namespace qardex::engine
