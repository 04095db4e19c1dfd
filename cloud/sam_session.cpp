#include "cloud/sam_session.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "cloud/pulsing_socket.h"
#include "cloud/relay.h"
#include "cloud/server_key_pins.h"
#include "common/error_codes.h"
#include "crypto/block_padding.h"
#include "crypto/block_size.h"
#include "crypto/secure_zero.h"
#include "diag/error_log.h"

namespace qardex::cloud {

namespace {

using crypto::ScopedWipe;
using diag::AppendErrorLog;
namespace codes = common;

constexpr std::size_t kHostLimit = 49;
constexpr std::size_t kPortTextLimit = 9;
constexpr char kHelloText[] = "Hello";
constexpr std::size_t kRsaBufferSize = 256;

bool Send(StreamSocket& socket, const Bytes& message) {
  return send_all(socket, reinterpret_cast<const char*>(message.data()), message.size()) == 0;
}

// Receives one framed reply and deciphers it; the deciphered length, or 0
// when no usable reply came.
std::size_t ReceiveAndOpen(StreamSocket& socket, std::uint8_t* wire, std::size_t wireSize,
                           int waitSeconds, const crypto::TdeaKey& key, std::uint8_t* plaintext) {
  std::fill(wire, wire + wireSize, 0);
  const int received = recv_framed(socket, reinterpret_cast<char*>(wire), wireSize, 0, waitSeconds);
  if (received <= 0) return 0;
  return OpenMessage(wire, static_cast<std::size_t>(received), key, plaintext, wireSize);
}

// The steps after the connection is open; the caller closes the socket.
// Every key, secret and plaintext here is wiped on the way out, whichever way.
std::int32_t RunDialogue(const SessionRequest& request, SessionKeys& keys,
                         const std::string& publicKeyText, StreamSocket& socket,
                         const card::CardChannel& card, SessionResult& result) {
  // Hello, under HelloKey and eight zero bytes.
  crypto::TdeaKey helloKey = HelloTdeaKey(request.helloKey);
  const ScopedWipe wipeHelloKey(helloKey);
  if (!Send(socket, BuildHello(publicKeyText, helloKey))) return codes::kSendHelloFailed;

  std::uint8_t wire[kReplyBufferSize];
  std::uint8_t plain[kReplyBufferSize];
  const ScopedWipe wipePlain(plain);
  std::size_t length =
      ReceiveAndOpen(socket, wire, sizeof wire, kHelloReplyWaitSeconds, helloKey, plain);
  if (length > 0) length = crypto::unpad_block8(plain, length);
  if (length < 1 || std::memcmp(plain, kHelloText, sizeof kHelloText - 1) != 0) {
    return codes::kBadHelloReply;
  }

  // Without the server's public key the exchange cannot go on: the Hello
  // reply counts as invalid.
  char serverKeyText[300] = {};
  std::memcpy(serverKeyText, plain + kHelloReplyKeyOffset, kPublicKeyTextLength);
  if (!keys.OpenServerKey(serverKeyText)) return codes::kBadHelloReply;
  // A key the administrator has not pinned gets nothing: not even the client random.
  if (!request.serverKeyPins.empty()) {
    const std::string digest = keys.ServerKeyDigest();
    if (!ServerKeyPinned(request.serverKeyPins, digest)) {
      AppendErrorLog("Server key %s is not in the pin list\r\n", digest.c_str());
      return codes::kPublicEncryptFailed;
    }
  }

  std::uint8_t secretBlock[kRsaBlockLength] = {};
  std::memcpy(secretBlock, plain + kHelloReplySecretOffset, kRsaBlockLength);
  std::uint8_t serverSecret[kRsaBufferSize] = {};
  const ScopedWipe wipeSecret(serverSecret);
  const int secretLength = keys.DecryptWithClientKey(secretBlock, kRsaBlockLength, serverSecret);
  if (secretLength == -1) {
    keys.LogCryptoError("Private Decrypt failed ");
    return codes::kPrivateDecryptFailed;
  }

  std::uint8_t clientRandomBlock[kRsaBufferSize] = {};
  const int blockLength = keys.EncryptWithServerKey(
      request.clientRandom.data(), static_cast<int>(kClientRandomLength), clientRandomBlock);
  if (blockLength == -1) {
    keys.LogCryptoError("Public Encrypt failed ");
    return codes::kPublicEncryptFailed;
  }
  const std::size_t sentBlock =
      std::min(static_cast<std::size_t>(std::max(blockLength, 0)), kRsaBufferSize);
  if (!Send(socket, BuildKeyMessage(clientRandomBlock, sentBlock))) return codes::kSendKeyFailed;

  SessionKey sessionKey{};
  const ScopedWipe wipeSessionKey(sessionKey);
  compose_session_key(sessionKey, serverSecret, static_cast<std::size_t>(std::max(secretLength, 0)),
                      request.clientRandom);
  crypto::TdeaKey key = SessionTdeaKey(sessionKey);
  const ScopedWipe wipeKey(key);

  // Card identifier and challenge go to the server's SAM ("01").
  card::ResponseBuffer response;
  const ScopedWipe wipeResponse(response);
  if (card::ReadHCId(card, response) != 0) return codes::kReadCardIdFailed;
  std::uint8_t cardId[kCardIdLength];
  const ScopedWipe wipeCardId(cardId);
  std::memcpy(cardId, response.bytes.data(), kCardIdLength);
  if (card::GetChallenge(card, response) != 0) return codes::kGetChallengeFailed;
  std::uint8_t challenge[kChallengeLength];
  const ScopedWipe wipeChallenge(challenge);
  std::memcpy(challenge, response.bytes.data(), kChallengeLength);
  if (!Send(socket, BuildRequest01(cardId, challenge, key))) return codes::kSendCardDataFailed;

  // The SAM's answer ("02") goes to the card.
  length = ReceiveAndOpen(socket, wire, sizeof wire, kLaterReplyWaitSeconds, key, plain);
  if (length > 0) length = crypto::unpad_block8(plain, length);
  if (length != kReply02Length) return codes::kBadServerReply02;
  if (plain[0] != '0' || plain[1] != '2') return codes::kServerReplyNot02;
  AppendErrorLog("Remote InSAM_HC_AUTH OK!\r\n");

  std::array<std::uint8_t, card::kMuAuthDataSize> samData{};
  const ScopedWipe wipeSamData(samData);
  std::memcpy(samData.data(), plain + kReply02SamDataOffset, samData.size());
  if (card::MuAuthHC(card, response, samData) != 0) return codes::kCardRefusedAuth;
  AppendErrorLog("Local MuAuthHC_DC_SAM OK!\r\n");
  std::uint8_t cardAnswer[kCardAnswerLength];
  const ScopedWipe wipeCardAnswer(cardAnswer);
  std::memcpy(cardAnswer, response.bytes.data(), kCardAnswerLength);

  // The card's answer and the page's random go to the SAM ("03").
  if (!Send(socket, BuildRequest03(cardAnswer, request.pageRandom, key))) {
    return codes::kSendCardAnswerFailed;
  }

  // The final reply keeps its padding; "OK" is checked, and the result must
  // have come whole: only whole blocks are deciphered, and a shorter reply
  // would hand the page zero fill as its result.
  std::uint8_t finalWire[kFinalReplyBufferSize];
  std::uint8_t finalPlain[kFinalReplyBufferSize + 1] = {};
  const ScopedWipe wipeFinalPlain(finalPlain);
  length =
      ReceiveAndOpen(socket, finalWire, sizeof finalWire, kLaterReplyWaitSeconds, key, finalPlain);
  const std::size_t deciphered = length / crypto::kDesBlockSize * crypto::kDesBlockSize;
  if (deciphered < kFinalReplyResultOffset + kResultLength ||
      finalPlain[kFinalReplyOkOffset] != 'O' || finalPlain[kFinalReplyOkOffset + 1] != 'K') {
    return codes::kBadFinalReply;
  }
  AppendErrorLog("%s\r\n", reinterpret_cast<const char*>(finalPlain));
  AppendErrorLog("Remote ExSAM_HC_AUTH OK!\r\n");
  std::memcpy(result.data(), finalPlain + kFinalReplyResultOffset, kResultLength);
  result[kResultLength] = '\0';
  return 0;
}

// Connects when finished, nothing before.
class ConnectOnFinish final : public PendingConnection {
 public:
  ConnectOnFinish(ServerConnector& connector, std::string host, int port)
      : connector_(connector), host_(std::move(host)), port_(port) {}
  std::unique_ptr<StreamSocket> Finish(WaitPulse& pulse) override {
    return connector_.Connect(host_, port_, pulse);
  }

 private:
  ServerConnector& connector_;
  std::string host_;
  int port_;
};

}  // namespace

std::unique_ptr<PendingConnection> ServerConnector::Begin(const std::string& host, int port) {
  return std::make_unique<ConnectOnFinish>(*this, host, port);
}

std::int32_t cloud_sam_session(const SessionRequest& request, SessionKeys& keys,
                               ServerConnector& connector, const card::CardChannel& card,
                               SessionResult& result, WaitPulse& pulse) {
  const std::string host = request.host.substr(0, kHostLimit);
  const std::string portText = request.portText.substr(0, kPortTextLimit);
  AppendErrorLog("Send Hello");
  // The proxy look-up runs while the key pair and its texts are made.
  const std::unique_ptr<PendingConnection> connection =
      connector.Begin(host, std::atoi(portText.c_str()));
  keys.GenerateKeyPair();

  // The private key's text is only made, never used; its passphrase is the
  // HelloKey, held in a buffer of this call.
  char passphrase[20] = {};
  std::memcpy(passphrase, request.helloKey.data(), request.helloKey.size());
  const int privateKeyLength = keys.WritePrivateKey(passphrase);
  crypto::SecureZero(passphrase, sizeof passphrase);  // its one use is over
  if (privateKeyLength <= 0) return codes::kWritePrivateKeyFailed;
  std::string publicKeyText;
  if (keys.WritePublicKey(publicKeyText) <= 0) return codes::kWritePublicKeyFailed;

  const std::unique_ptr<StreamSocket> socket = connection->Finish(pulse);
  if (!socket) return codes::kServerUnreachable;
  PulsingSocket paced(*socket, pulse);
  return RunDialogue(request, keys, publicKeyText, paced, card, result);
}

}  // namespace qardex::cloud
