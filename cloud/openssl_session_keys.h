// The session's key handling over libcrypto.
#pragma once

#include "cloud/key_pair_source.h"
#include "cloud/rsa_pem.h"
#include "cloud/sam_session.h"

namespace qardex::cloud {

class OpenSslSessionKeys final : public SessionKeys {
 public:
  // The client key pair comes from `clientKeys`, which outlives this object.
  explicit OpenSslSessionKeys(KeyPairSource& clientKeys = KeysMadeInTheCall());
  // Frees the client key pair and tells its source.
  ~OpenSslSessionKeys() override;
  OpenSslSessionKeys(const OpenSslSessionKeys&) = delete;
  OpenSslSessionKeys& operator=(const OpenSslSessionKeys&) = delete;
  void GenerateKeyPair() override;
  int WritePrivateKey(const char* passphrase) override;
  int WritePublicKey(std::string& text) override;
  bool OpenServerKey(const char* publicKeyText) override;
  std::string ServerKeyDigest() override;
  int DecryptWithClientKey(const std::uint8_t* in, int length, std::uint8_t* out) override;
  int EncryptWithServerKey(const std::uint8_t* in, int length, std::uint8_t* out) override;
  void LogCryptoError(const char* text) override;

  // Output buffers of the two RSA operations hold this many bytes.
  static constexpr int kOutputCapacity = 256;

 private:
  // Frees the client key pair and tells its source the call is done with it.
  void FreeClientKey();

  KeyPairSource& clientKeys_;
  bool tookClientKey_ = false;
  KeyPair clientKey_;
  KeyPair serverKey_;
  PemText privateKeyText_;
};

}  // namespace qardex::cloud
