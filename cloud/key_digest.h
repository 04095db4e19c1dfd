// The digest that names a public key in a pin list: SHA-256 of its DER SubjectPublicKeyInfo,
// as 64 lower-case hex digits.
#pragma once

#include <openssl/evp.h>

#include <string>

namespace qardex::cloud {

// "" when the key cannot be written.
std::string PublicKeyDigest(EVP_PKEY* key);

// The digest of the key in a "PUBLIC KEY" or "CERTIFICATE" PEM text (the first one found);
// "" when the text holds neither.
std::string PemKeyDigest(const std::string& pemText);

}  // namespace qardex::cloud
