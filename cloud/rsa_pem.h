// RSA key pairs and their PEM texts, all through memory streams: a fresh
// 1024-bit key pair per session, the public key and the enciphered private
// key as PEM text, a public key read back from PEM text, and RSA with
// PKCS#1 v1.5 padding.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace qardex::cloud {

struct EvpPkeyRelease {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct RsaRelease {
  void operator()(RSA* key) const { RSA_free(key); }
};
struct BioRelease {
  void operator()(BIO* bio) const { BIO_free_all(bio); }
};
// Key texts may hold a private key: wiped before their memory goes back.
struct TextRelease {
  void operator()(char* text) const;
};
using KeyPair = std::unique_ptr<EVP_PKEY, EvpPkeyRelease>;
using RsaKey = std::unique_ptr<RSA, RsaRelease>;
using MemoryStream = std::unique_ptr<BIO, BioRelease>;
// A zero-terminated text allocated with malloc.
using PemText = std::unique_ptr<char, TextRelease>;

inline constexpr int kRsaBits = 1024;
inline constexpr unsigned long kRsaExponent = 65537;
inline constexpr int kRsaPadding = RSA_PKCS1_PADDING;

KeyPair generate_key_pair();
// The same without a log entry or message, for a key pair made ahead: null when it could not be
// made or when `stop` turned true while it was being made.
KeyPair make_key_pair_unless(const std::atomic<bool>& stop);
// The text's length, or -1; the new text through `text`.
int write_public_key(EVP_PKEY* key, PemText* text);
int write_private_key(EVP_PKEY* key, const char* passphrase, PemText* text);
KeyPair open_publice_key(const char* text);
// A stream that reads exactly `length` bytes of `text` (-1: up to its NUL).
MemoryStream set_read_BIO_from_buf(const char* text, int length);
// The bytes the stream holds, copied into a new zero-terminated text.
int get_written_BIO_data(BIO* stream, PemText* text);

// The RSA key inside a key pair (a counted reference of its own).
RsaKey RsaOf(EVP_PKEY* key);
// `out` must hold RSA_size(key) bytes. The output length, or -1.
int rsa_encrypt_public(const std::uint8_t* in, int length, RSA* key, std::uint8_t* out);
int rsa_decrypt_private(const std::uint8_t* in, int length, RSA* key, std::uint8_t* out);

// "<text> ERROR: <libcrypto's earliest queued error>" in the error log.
void log_crypto_error(const char* text);

}  // namespace qardex::cloud
