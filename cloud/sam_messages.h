// The messages of the authentication dialogue, byte for byte. Enciphered
// messages are Triple-DES ECB over the padded plaintext, followed on the wire
// by the trailer "<E>".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "crypto/key_material.h"
#include "crypto/tdea.h"

namespace qardex::cloud {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t kClientRandomLength = 16;
inline constexpr std::size_t kCardIdLength = 12;
inline constexpr std::size_t kChallengeLength = 8;
inline constexpr std::size_t kSamDataLength = 32;
inline constexpr std::size_t kCardAnswerLength = 16;
inline constexpr std::size_t kPageRandomLength = 20;
inline constexpr std::size_t kResultLength = 256;
inline constexpr std::size_t kSessionKeyLength = 32;
inline constexpr std::size_t kPublicKeyTextLength = 272;
inline constexpr std::size_t kRsaBlockLength = 128;

// Where the replies carry their fields (offsets into the plaintext).
inline constexpr std::size_t kHelloReplyKeyOffset = 6;
inline constexpr std::size_t kHelloReplySecretOffset = 283;
inline constexpr std::size_t kReply02Length = 44;
inline constexpr std::size_t kReply02SamDataOffset = 9;
inline constexpr std::size_t kFinalReplyOkOffset = 8;
inline constexpr std::size_t kFinalReplyResultOffset = 18;

// Reply buffers: the Hello and "02" replies, and the final reply.
inline constexpr std::size_t kReplyBufferSize = 1024;
inline constexpr std::size_t kFinalReplyBufferSize = 400;

using ClientRandom = std::array<std::uint8_t, kClientRandomLength>;
using PageRandom = std::array<std::uint8_t, kPageRandomLength>;
using SessionKey = std::array<std::uint8_t, kSessionKeyLength>;

// HelloKey followed by eight zero bytes: the third DES key is all zeros.
crypto::TdeaKey HelloTdeaKey(const crypto::HelloKey& helloKey);

// Bytes 0-15 the client random, 16-31 the first 16 bytes of the server secret
// (zero where the secret is shorter).
void compose_session_key(SessionKey& destination, const std::uint8_t* serverSecret,
                         std::size_t secretLength, const ClientRandom& clientRandom);
// The key of every message after the exchange: the first 24 bytes.
crypto::TdeaKey SessionTdeaKey(const SessionKey& sessionKey);

// Pads, enciphers and appends the trailer.
Bytes SealMessage(const std::uint8_t* plaintext, std::size_t length, const crypto::TdeaKey& key);

// "Hello " + the public key text (278 bytes for a 1024-bit key) sealed under the Hello key.
Bytes BuildHello(const std::string& publicKeyText, const crypto::TdeaKey& helloKey);
// " %d " with the block's length, the RSA block and the trailer, not enciphered.
Bytes BuildKeyMessage(const std::uint8_t* rsaBlock, std::size_t length);
// "01<id=12>" id "<rn=8>" challenge "<E>" sealed under the session key.
Bytes BuildRequest01(const std::uint8_t* cardId, const std::uint8_t* challenge,
                     const crypto::TdeaKey& sessionKey);
// "03<au=16>" answer "<se=20>" page random "<E>" sealed under the session key.
Bytes BuildRequest03(const std::uint8_t* cardAnswer, const PageRandom& pageRandom,
                     const crypto::TdeaKey& sessionKey);

// Deciphers a received message (its trailer dropped) into `plaintext`, which
// is zero-filled first and must be at least `received` bytes long. Returns
// the deciphered length, or 0 when the message is too short to hold more
// than its trailer.
std::size_t OpenMessage(const std::uint8_t* received, std::size_t receivedLength,
                        const crypto::TdeaKey& key, std::uint8_t* plaintext, std::size_t capacity);

}  // namespace qardex::cloud
