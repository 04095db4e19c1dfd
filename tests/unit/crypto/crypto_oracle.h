// libcrypto as an independent reference for the crypto tests, and small byte helpers.
#pragma once

#include <openssl/des.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "crypto/sha1.h"
#include "crypto/tdea.h"

namespace qardex::crypto::oracle {

using Bytes = std::vector<std::uint8_t>;

inline Bytes FromHex(const std::string& hex) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

inline Bytes RandomBytes(std::mt19937& random, std::size_t count) {
  Bytes bytes(count);
  for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(random());
  return bytes;
}

inline Bytes Tdea(const TdeaKey& key, const Bytes& input, bool encipher) {
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                          EVP_CIPHER_CTX_free);
  Bytes output(input.size());
  int written = 0;
  EVP_CipherInit_ex(context.get(), EVP_des_ede3_ecb(), nullptr, key.data(), nullptr,
                    encipher ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(context.get(), 0);
  EVP_CipherUpdate(context.get(), output.data(), &written, input.data(),
                   static_cast<int>(input.size()));
  output.resize(static_cast<std::size_t>(written));
  return output;
}

// Single DES (the legacy low-level interface: EVP offers DES only through the legacy provider).
inline Bytes DesEncipher(const std::uint8_t* key8, const Bytes& input) {
  DES_cblock keyBlock;
  std::copy(key8, key8 + 8, keyBlock);
  DES_key_schedule schedule;
  DES_set_key_unchecked(&keyBlock, &schedule);
  Bytes output(input.size());
  for (std::size_t offset = 0; offset + 8 <= input.size(); offset += 8) {
    DES_cblock in, out;
    std::copy(input.begin() + offset, input.begin() + offset + 8, in);
    DES_ecb_encrypt(&in, &out, &schedule, DES_ENCRYPT);
    std::copy(out, out + 8, output.begin() + offset);
  }
  return output;
}

inline Sha1Digest Sha1(const std::uint8_t* data, std::size_t length) {
  Sha1Digest digest{};
  unsigned int size = 0;
  EVP_Digest(data, length, digest.data(), &size, EVP_sha1(), nullptr);
  return digest;
}

}  // namespace qardex::crypto::oracle
