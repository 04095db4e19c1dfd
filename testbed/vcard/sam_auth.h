// The card's side of the mutual authentication with the server's SAM, over a secret that the card
// and the test server share. Both directions are SHA-256 digests (README.md, "Mutual
// authentication"), so a test server can compute them independently.
#pragma once

#include "testbed/vcard/bytes.h"
#include "testbed/vcard/hc_card.h"

namespace vcard {

inline constexpr std::size_t kSamDataLength = 32;
inline constexpr std::size_t kCardAnswerLength = 16;

// SHA-256("SAM>CARD" || card identifier (12) || challenge (8) || secret): what the SAM must send.
Bytes expected_sam_data(const Bytes& card_id, const Bytes& challenge, const Bytes& secret);

// First 16 bytes of SHA-256("CARD>SAM" || SAM data (32) || secret): the card's answer.
Bytes card_answer(const Bytes& sam_data, const Bytes& secret);

// Accepts the SAM's 32 bytes only when they match the card's last challenge:
// no challenge since power-on or since the last attempt: 69 85; other bytes: 69 82.
class SharedSecretAuthenticator : public MutualAuthenticator {
 public:
    // `card_id`: the identifier the card reports (its first 12 bytes count).
    SharedSecretAuthenticator(Bytes card_id, Bytes secret);
    Bytes respond(const Bytes& challenge, const Bytes& host_data) override;

 private:
    Bytes card_id_;
    Bytes secret_;
};

}  // namespace vcard
