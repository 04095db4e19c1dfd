#include "cloud/rsa_pem.h"

#include <openssl/bn.h>
#include <openssl/buffer.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstring>

#include "diag/error_log.h"

namespace qardex::cloud {

namespace {

using diag::AppendErrorLog;

// Addresses are logged as their low 32 bits, as the log's "%x" lines show them.
unsigned LowBits(const void* address) {
  return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(address));
}

using PemWriter = int (*)(BIO*, EVP_PKEY*, const char* passphrase);

int WritePem(EVP_PKEY* key, const char* passphrase, PemText* text, const char* progress,
             PemWriter writer, const char* failure) {
  if (key == nullptr || text == nullptr) {
    AppendErrorLog("NULL arg(s)");
    return -1;
  }
  text->reset();
  MemoryStream stream(BIO_new(BIO_s_mem()));
  if (!stream) {
    AppendErrorLog("no memory?");
    return -1;
  }
  AppendErrorLog("%s", progress);
  if (!writer(stream.get(), key, passphrase)) AppendErrorLog("%s", failure);
  return get_written_BIO_data(stream.get(), text);
}

int WritePublic(BIO* stream, EVP_PKEY* key, const char*) {
  return PEM_write_bio_PUBKEY(stream, key);
}

int WritePrivate(BIO* stream, EVP_PKEY* key, const char* passphrase) {
  auto* pass = reinterpret_cast<unsigned char*>(const_cast<char*>(passphrase));
  return PEM_write_bio_PrivateKey(stream, key, EVP_des_ede3_cbc(), pass,
                                  static_cast<int>(std::strlen(passphrase)), nullptr, nullptr);
}

enum class KeyMaking { kMade, kGenerationFailed, kCheckFailed };

// A 1024-bit key pair through `pair` (null unless made); `callback` may be null.
KeyMaking MakeKeyPair(BN_GENCB* callback, KeyPair& pair) {
  pair.reset();
  RsaKey rsa(RSA_new());
  const std::unique_ptr<BIGNUM, decltype(&BN_free)> exponent(BN_new(), &BN_free);
  KeyPair made(EVP_PKEY_new());
  if (!rsa || !exponent || !made || BN_set_word(exponent.get(), kRsaExponent) != 1 ||
      RSA_generate_key_ex(rsa.get(), kRsaBits, exponent.get(), callback) != 1 ||
      EVP_PKEY_assign_RSA(made.get(), rsa.get()) != 1) {
    return KeyMaking::kGenerationFailed;
  }
  RSA* owned = rsa.release();  // the key pair owns it now
  if (RSA_check_key(owned) <= 0) return KeyMaking::kCheckFailed;
  pair = std::move(made);
  return KeyMaking::kMade;
}

}  // namespace

void TextRelease::operator()(char* text) const {
  OPENSSL_cleanse(text, std::strlen(text));
  std::free(text);
}

KeyPair generate_key_pair() {
  KeyPair pair;
  const KeyMaking outcome = MakeKeyPair(nullptr, pair);
  if (outcome == KeyMaking::kCheckFailed) AppendErrorLog("RSA_check_key failed.");
  if (outcome != KeyMaking::kMade) ERR_print_errors_fp(stderr);
  return pair;
}

KeyPair make_key_pair_unless(const std::atomic<bool>& stop) {
  const std::unique_ptr<BN_GENCB, decltype(&BN_GENCB_free)> callback(BN_GENCB_new(),
                                                                     &BN_GENCB_free);
  if (!callback) return nullptr;
  // Called for every prime candidate: a zero ends the generation.
  BN_GENCB_set(
      callback.get(),
      [](int, int, BN_GENCB* self) {
        return static_cast<const std::atomic<bool>*>(BN_GENCB_get_arg(self))->load() ? 0 : 1;
      },
      const_cast<std::atomic<bool>*>(&stop));
  KeyPair pair;
  if (MakeKeyPair(callback.get(), pair) != KeyMaking::kMade) ERR_clear_error();
  return pair;
}

int get_written_BIO_data(BIO* stream, PemText* text) {
  if (text == nullptr) {
    AppendErrorLog("NULL arg");
    return -1;
  }
  text->reset();
  if (stream == nullptr) return -1;
  (void)BIO_flush(stream);
  char* contents = nullptr;
  const long size = BIO_get_mem_data(stream, &contents);
  AppendErrorLog("get_written_BIO_data: %x %d bytes", LowBits(contents), static_cast<int>(size));
  if (size < 0) return -1;
  PemText copy(static_cast<char*>(std::malloc(static_cast<std::size_t>(size) + 1)));
  if (!copy) {
    AppendErrorLog("no memory?");
    return -1;
  }
  if (size > 0) std::memcpy(copy.get(), contents, static_cast<std::size_t>(size));
  copy.get()[size] = '\0';
  *text = std::move(copy);
  return static_cast<int>(size);
}

int write_public_key(EVP_PKEY* key, PemText* text) {
  return WritePem(key, "", text, "write_public_key", WritePublic,
                  "PEM_write_bio_PUBKEY (no memory?)");
}

int write_private_key(EVP_PKEY* key, const char* passphrase, PemText* text) {
  if (passphrase == nullptr) {
    AppendErrorLog("NULL arg(s)");
    return -1;
  }
  return WritePem(key, passphrase, text, "write_private_key", WritePrivate,
                  "PEM_write_bio_PrivateKey (bad passwd, no memory?)");
}

MemoryStream set_read_BIO_from_buf(const char* text, int length) {
  if (text == nullptr) {
    AppendErrorLog("NULL file buffer");
    return nullptr;
  }
  if (length == -1) length = static_cast<int>(std::strlen(text));
  AppendErrorLog("set_read_BIO_from_buf %x, len %d", LowBits(text), length);
  if (length < 0) return nullptr;
  MemoryStream stream(BIO_new(BIO_s_mem()));
  BUF_MEM* buffer = BUF_MEM_new();
  if (!stream || buffer == nullptr || BUF_MEM_grow(buffer, static_cast<std::size_t>(length)) == 0) {
    BUF_MEM_free(buffer);
    AppendErrorLog("no memory?");
    return nullptr;
  }
  if (length > 0) std::memcpy(buffer->data, text, static_cast<std::size_t>(length));
  BIO_set_mem_buf(stream.get(), buffer, BIO_CLOSE);  // the stream owns the buffer now
  AppendErrorLog("ok");
  return stream;
}

KeyPair open_publice_key(const char* text) {
  AppendErrorLog("open_publice_key: %x %x", LowBits(text),
                 text ? static_cast<unsigned>(std::strlen(text)) : 0u);
  MemoryStream stream = set_read_BIO_from_buf(text, -1);
  if (!stream) {
    AppendErrorLog("error");
    return nullptr;
  }
  KeyPair key(PEM_read_bio_PUBKEY(stream.get(), nullptr, nullptr, nullptr));
  if (!key) {
    AppendErrorLog("01 bad password or badly formatted public key pem file (PEM_read_bio_PUBKEY)");
  }
  AppendErrorLog("done");
  return key;
}

RsaKey RsaOf(EVP_PKEY* key) { return RsaKey(key ? EVP_PKEY_get1_RSA(key) : nullptr); }

int rsa_encrypt_public(const std::uint8_t* in, int length, RSA* key, std::uint8_t* out) {
  if (in == nullptr || key == nullptr || out == nullptr || length < 0) return -1;
  return RSA_public_encrypt(length, in, out, key, kRsaPadding);
}

int rsa_decrypt_private(const std::uint8_t* in, int length, RSA* key, std::uint8_t* out) {
  if (in == nullptr || key == nullptr || out == nullptr || length < 0) return -1;
  return RSA_private_decrypt(length, in, out, key, kRsaPadding);
}

void log_crypto_error(const char* text) {
  ERR_load_crypto_strings();
  char rendered[256] = {};
  ERR_error_string_n(ERR_get_error(), rendered, sizeof rendered);
  AppendErrorLog("%s ERROR: %s\n", text, rendered);
}

}  // namespace qardex::cloud
