// The values an administrator sets for us by group policy, under one machine key. The policy
// templates in packaging/policies/ describe each of them; a test checks that they do.
#pragma once

#include <array>

namespace qardex::common {

// Under HKEY_LOCAL_MACHINE.
inline constexpr char kPolicyKeyPath[] = "SOFTWARE\\Policies\\QARDEX";

// REG_MULTI_SZ: SHA-256 digests (hexadecimal) of the authentication server's accepted keys.
inline constexpr char kServerKeyPinsValue[] = "ServerKeyPins";

// REG_SZ: the ports on which a page on http://localhost may use the local service, e.g.
// "8081, 8443" (sitelock/localhost_ports.h has the rule; FoxTrust.cmd reads it too).
inline constexpr char kLocalhostPortsValue[] = "LocalhostPorts";

// Every value the code reads under kPolicyKeyPath.
inline constexpr std::array<const char*, 2> kPolicyValueNames = {kServerKeyPinsValue,
                                                                 kLocalhostPortsValue};

}  // namespace qardex::common
