// The client random of the authentication session: sixteen decimal digits from the system's
// cryptographic generator, written like the control's own digits (four groups 0000 to 9998).
#pragma once

#include <string>

#include "engine/platform.h"

namespace qardex::engine {

// False (and `digits` empty) when the system's generator gives nothing.
bool SystemRandomDigits16(Platform& platform, std::string& digits);

}  // namespace qardex::engine
