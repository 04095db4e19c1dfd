// The values an administrator sets for us by group policy, under one machine key. The policy
// templates in packaging/policies/ describe each of them; a test checks that they do.
#pragma once

#include <array>

namespace qardex::common {

// Under HKEY_LOCAL_MACHINE.
inline constexpr char kPolicyKeyPath[] = "SOFTWARE\\Policies\\QARDEX";

// REG_MULTI_SZ: SHA-256 digests (hexadecimal) of the authentication server's accepted keys.
inline constexpr char kServerKeyPinsValue[] = "ServerKeyPins";

// Every value the code reads under kPolicyKeyPath.
inline constexpr std::array<const char*, 1> kPolicyValueNames = {kServerKeyPinsValue};

}  // namespace qardex::common
