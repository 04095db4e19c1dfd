#include "cloud/sam_messages.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cloud/relay.h"
#include "crypto/block_padding.h"
#include "crypto/secure_zero.h"

namespace qardex::cloud {

namespace {

constexpr std::size_t kTrailerLength = sizeof kFrameTrailer - 1;
constexpr char kRequest01Template[] = "01<id=12>************<rn=8>********<E>";
constexpr char kRequest03Template[] = "03<au=16>****************<se=20>01234567890123456789<E>";
constexpr std::size_t kRequest01IdOffset = 9;
constexpr std::size_t kRequest01ChallengeOffset = 27;
constexpr std::size_t kRequest03AnswerOffset = 9;
constexpr std::size_t kRequest03RandomOffset = 32;

void AppendTrailer(Bytes& message) {
  message.insert(message.end(), kFrameTrailer, kFrameTrailer + kTrailerLength);
}

}  // namespace

crypto::TdeaKey HelloTdeaKey(const crypto::HelloKey& helloKey) {
  crypto::TdeaKey key{};
  std::copy(helloKey.begin(), helloKey.end(), key.begin());
  return key;
}

void compose_session_key(SessionKey& destination, const std::uint8_t* serverSecret,
                         std::size_t secretLength, const ClientRandom& clientRandom) {
  destination.fill(0);
  std::copy(clientRandom.begin(), clientRandom.end(), destination.begin());
  const std::size_t taken = std::min<std::size_t>(secretLength, kClientRandomLength);
  if (serverSecret != nullptr) {
    std::copy(serverSecret, serverSecret + taken, destination.begin() + kClientRandomLength);
  }
}

crypto::TdeaKey SessionTdeaKey(const SessionKey& sessionKey) {
  crypto::TdeaKey key{};
  std::copy(sessionKey.begin(), sessionKey.begin() + key.size(), key.begin());
  return key;
}

Bytes SealMessage(const std::uint8_t* plaintext, std::size_t length, const crypto::TdeaKey& key) {
  crypto::WipedBytes padded{Bytes(crypto::PaddedLength(length), 0)};
  crypto::pad_block8(plaintext, length, padded.bytes.data(), padded.bytes.size());
  Bytes message(padded.bytes.size(), 0);
  crypto::TdeaEcbEncrypt(key, padded.bytes.data(), message.data(), padded.bytes.size());
  AppendTrailer(message);
  return message;
}

Bytes BuildHello(const std::string& publicKeyText, const crypto::TdeaKey& helloKey) {
  char text[kReplyBufferSize] = {};
  std::snprintf(text, sizeof text, "Hello %s", publicKeyText.c_str());
  return SealMessage(reinterpret_cast<const std::uint8_t*>(text), std::strlen(text), helloKey);
}

Bytes BuildKeyMessage(const std::uint8_t* rsaBlock, std::size_t length) {
  char prefix[32] = {};
  std::snprintf(prefix, sizeof prefix, " %d ", static_cast<int>(length));
  Bytes message(prefix, prefix + std::strlen(prefix));
  message.insert(message.end(), rsaBlock, rsaBlock + length);
  AppendTrailer(message);
  return message;
}

Bytes BuildRequest01(const std::uint8_t* cardId, const std::uint8_t* challenge,
                     const crypto::TdeaKey& sessionKey) {
  crypto::WipedBytes plaintext{
      Bytes(kRequest01Template, kRequest01Template + sizeof kRequest01Template - 1)};
  std::copy(cardId, cardId + kCardIdLength, plaintext.bytes.begin() + kRequest01IdOffset);
  std::copy(challenge, challenge + kChallengeLength,
            plaintext.bytes.begin() + kRequest01ChallengeOffset);
  return SealMessage(plaintext.bytes.data(), plaintext.bytes.size(), sessionKey);
}

Bytes BuildRequest03(const std::uint8_t* cardAnswer, const PageRandom& pageRandom,
                     const crypto::TdeaKey& sessionKey) {
  crypto::WipedBytes plaintext{
      Bytes(kRequest03Template, kRequest03Template + sizeof kRequest03Template - 1)};
  std::copy(cardAnswer, cardAnswer + kCardAnswerLength,
            plaintext.bytes.begin() + kRequest03AnswerOffset);
  std::copy(pageRandom.begin(), pageRandom.end(), plaintext.bytes.begin() + kRequest03RandomOffset);
  return SealMessage(plaintext.bytes.data(), plaintext.bytes.size(), sessionKey);
}

std::size_t OpenMessage(const std::uint8_t* received, std::size_t receivedLength,
                        const crypto::TdeaKey& key, std::uint8_t* plaintext, std::size_t capacity) {
  std::fill(plaintext, plaintext + capacity, 0);
  // A reply no longer than its trailer holds nothing (never a negative length).
  if (receivedLength <= kTrailerLength) return 0;
  const std::size_t length = std::min(receivedLength - kTrailerLength, capacity);
  crypto::TdeaEcbDecrypt(key, received, plaintext, length);
  return length;
}

}  // namespace qardex::cloud
