// Session ids come from OpenSSL's generator (seeded by the system's own).
#pragma once

#include <cstddef>

namespace qardex::service {

bool CryptoRandom(unsigned char* bytes, std::size_t count);

}  // namespace qardex::service
