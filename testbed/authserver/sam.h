// The simulated SAM: what it answers a card's identifier and challenge, how it checks the card's
// answer, and the 256-character result it computes for the page's random. The digests match the
// virtual card's (testbed/vcard/README.md, "Mutual authentication"); this is a separate
// implementation so that a mistake on either side shows up as a failed authentication.
#pragma once

#include <string>

#include "testbed/authserver/tcp.h"

namespace authserver {

using testnet::Bytes;

inline constexpr char kDefaultCardSecret[] = "HC-SAM-SHARED-01";
inline constexpr std::size_t kResultLength = 256;

// SHA-256("SAM>CARD" || card id (12) || challenge (8) || secret): 32 bytes for MUTUAL AUTHENTICATE.
Bytes sam_authentication_data(const Bytes& card_id, const Bytes& challenge, const Bytes& secret);

// First 16 bytes of SHA-256("CARD>SAM" || SAM data || secret): what a genuine card answers.
Bytes expected_card_answer(const Bytes& sam_data, const Bytes& secret);

// Uppercase hexadecimal of h1..h4, h1 = SHA-256("RESULT" || card id || page random (20)),
// h(n+1) = SHA-256(h(n)): 256 printable characters, never a zero byte.
std::string sam_result(const Bytes& card_id, const Bytes& page_random);

std::string hex_upper(const Bytes& bytes);

}  // namespace authserver
