// The server's public key as PEM text, read the way the session reads it
// (a NUL-terminated text), then used for the one encryption the session makes.
#include <openssl/rsa.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cloud/openssl_session_keys.h"
#include "cloud/rsa_pem.h"
#include "fuzz/support/finding.h"

using namespace qardex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  cloud::OpenSslSessionKeys keys;
  if (!keys.OpenServerKey(text.c_str())) return 0;
  std::uint8_t clientRandom[16] = {1, 2, 3};
  std::vector<std::uint8_t> out(cloud::OpenSslSessionKeys::kOutputCapacity, 0);
  const int length = keys.EncryptWithServerKey(clientRandom, sizeof clientRandom, out.data());
  QARDEX_FUZZ_CHECK(length <= cloud::OpenSslSessionKeys::kOutputCapacity, "encryption output");
  cloud::MemoryStream stream = cloud::set_read_BIO_from_buf(text.data(), static_cast<int>(size));
  QARDEX_FUZZ_CHECK(stream != nullptr || size == 0, "memory stream over the text");
  return 0;
}
