#include "cloud/crypto_library.h"

#include <openssl/crypto.h>

namespace qardex::cloud {

void EnsureCryptoLibrary() {
  OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
}

void ReleaseThreadCryptoState() { OPENSSL_thread_stop(); }

void CleanupCryptoLibrary() { OPENSSL_cleanup(); }

}  // namespace qardex::cloud
