// Triple-DES in ECB mode over whole 8-byte blocks with OpenSSL's cipher, and the PKCS #5 block
// padding of the wire format, kept apart so that faults can be injected between the two.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "testbed/authserver/tcp.h"

namespace authserver {

using testnet::Bytes;
using TdesKey = std::array<std::uint8_t, 24>;

inline constexpr std::size_t kBlock = 8;

// Whole blocks only: the caller pads first. Nothing for a length that is not a multiple of 8 or
// when the library fails.
std::optional<Bytes> tdes_encrypt(const TdesKey& key, const Bytes& plaintext);
std::optional<Bytes> tdes_decrypt(const TdesKey& key, const Bytes& ciphertext);

// 1 to 8 bytes, each holding their count.
Bytes pad_block8(const Bytes& plaintext);
// Strict removal: every padding byte must hold the count (1 to 8). Nothing otherwise.
std::optional<Bytes> unpad_block8(const Bytes& padded);

// The Hello key: the 16 bytes of the HelloKey followed by 8 zero bytes.
TdesKey hello_tdes_key(const std::array<std::uint8_t, 16>& hello_key);
// The session key: the client's 16 digits followed by the first 8 bytes of the server secret.
TdesKey session_tdes_key(const std::string& client_random, const Bytes& server_secret);

}  // namespace authserver
