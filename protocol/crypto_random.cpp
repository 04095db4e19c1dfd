#include "protocol/crypto_random.h"

#include <openssl/rand.h>

#include <climits>

namespace qardex::service {

bool CryptoRandom(unsigned char* bytes, std::size_t count) {
  return count <= INT_MAX && RAND_bytes(bytes, static_cast<int>(count)) == 1;
}

}  // namespace qardex::service
