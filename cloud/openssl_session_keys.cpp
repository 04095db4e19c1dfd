#include "cloud/openssl_session_keys.h"

#include <openssl/err.h>

#include "cloud/key_digest.h"

namespace qardex::cloud {

namespace {
// Runs an RSA operation only when its output fits the caller's buffer.
template <typename Operation>
int WithFittingKey(EVP_PKEY* key, Operation&& operation) {
  const RsaKey rsa = RsaOf(key);
  if (!rsa || RSA_size(rsa.get()) > OpenSslSessionKeys::kOutputCapacity) return -1;
  return operation(rsa.get());
}
}  // namespace

OpenSslSessionKeys::OpenSslSessionKeys(KeyPairSource& clientKeys) : clientKeys_(clientKeys) {
  ERR_load_crypto_strings();
}

OpenSslSessionKeys::~OpenSslSessionKeys() { FreeClientKey(); }

void OpenSslSessionKeys::FreeClientKey() {
  clientKey_.reset();
  if (tookClientKey_) clientKeys_.Done();
  tookClientKey_ = false;
}

void OpenSslSessionKeys::GenerateKeyPair() {
  FreeClientKey();
  clientKey_ = clientKeys_.Take();
  tookClientKey_ = true;
}

int OpenSslSessionKeys::WritePrivateKey(const char* passphrase) {
  return write_private_key(clientKey_.get(), passphrase, &privateKeyText_);
}

int OpenSslSessionKeys::WritePublicKey(std::string& text) {
  PemText pem;
  const int length = write_public_key(clientKey_.get(), &pem);
  text = pem ? std::string(pem.get(), static_cast<std::size_t>(length > 0 ? length : 0)) : "";
  return length;
}

bool OpenSslSessionKeys::OpenServerKey(const char* publicKeyText) {
  serverKey_ = open_publice_key(publicKeyText);
  return serverKey_ != nullptr;
}

std::string OpenSslSessionKeys::ServerKeyDigest() { return PublicKeyDigest(serverKey_.get()); }

int OpenSslSessionKeys::DecryptWithClientKey(const std::uint8_t* in, int length,
                                             std::uint8_t* out) {
  return WithFittingKey(clientKey_.get(),
                        [&](RSA* rsa) { return rsa_decrypt_private(in, length, rsa, out); });
}

int OpenSslSessionKeys::EncryptWithServerKey(const std::uint8_t* in, int length,
                                             std::uint8_t* out) {
  return WithFittingKey(serverKey_.get(),
                        [&](RSA* rsa) { return rsa_encrypt_public(in, length, rsa, out); });
}

void OpenSslSessionKeys::LogCryptoError(const char* text) { log_crypto_error(text); }

}  // namespace qardex::cloud
