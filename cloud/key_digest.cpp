#include "cloud/key_digest.h"

#include <openssl/pem.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <climits>
#include <memory>

#include "cloud/rsa_pem.h"
#include "crypto/hex_text.h"

namespace qardex::cloud {

namespace {

struct X509Release {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
struct OpenSslRelease {
  void operator()(unsigned char* bytes) const { OPENSSL_free(bytes); }
};

}  // namespace

std::string PublicKeyDigest(EVP_PKEY* key) {
  if (key == nullptr) return "";
  unsigned char* der = nullptr;
  const int length = i2d_PUBKEY(key, &der);
  const std::unique_ptr<unsigned char, OpenSslRelease> owned(der);
  if (length <= 0) return "";
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(der, static_cast<std::size_t>(length), digest);
  return crypto::HexLower(digest, sizeof digest);
}

std::string PemKeyDigest(const std::string& pemText) {
  // A read-only view of the text; nothing goes to the log.
  const auto reader = [&pemText]() -> MemoryStream {
    if (pemText.size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
    return MemoryStream(BIO_new_mem_buf(pemText.data(), static_cast<int>(pemText.size())));
  };
  {
    const MemoryStream stream = reader();
    const KeyPair key(stream ? PEM_read_bio_PUBKEY(stream.get(), nullptr, nullptr, nullptr)
                             : nullptr);
    if (key) return PublicKeyDigest(key.get());
  }
  const MemoryStream stream = reader();
  const std::unique_ptr<X509, X509Release> certificate(
      stream ? PEM_read_bio_X509(stream.get(), nullptr, nullptr, nullptr) : nullptr);
  return certificate ? PublicKeyDigest(X509_get0_pubkey(certificate.get())) : "";
}

}  // namespace qardex::cloud
