// RSA for the key exchange, through OpenSSL's EVP interface: the server's key pair, the client's
// public key read from its PEM text, and PKCS #1 v1.5 encryption both ways.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "testbed/authserver/tcp.h"

struct evp_pkey_st;

namespace authserver {

using testnet::Bytes;

class RsaKey {
 public:
    // A fresh key pair (1024 bits, exponent 65537); empty on failure.
    static std::optional<RsaKey> generate(int bits = 1024);
    // A public key from a "PUBLIC KEY" PEM text; empty when unreadable.
    static std::optional<RsaKey> from_public_pem(const std::string& pem);

    // The "PUBLIC KEY" PEM text (272 bytes for 1024 bits, LF line ends).
    std::string public_pem() const;
    // Nothing when the library refuses (message too long, block not decipherable...).
    std::optional<Bytes> encrypt(const Bytes& message) const;
    std::optional<Bytes> decrypt(const Bytes& block) const;
    int size_bytes() const;

 private:
    struct Free {
        void operator()(evp_pkey_st* key) const;
    };
    explicit RsaKey(evp_pkey_st* key) : key_(key) {}
    std::unique_ptr<evp_pkey_st, Free> key_;
};

}  // namespace authserver
