// The whole authentication dialogue over a scripted connection, card and key
// handling. The server's replies are plaintexts from the input, sealed with
// the key the client will use (or sent raw), so the fuzzer reaches every
// step. A successful session must rest on complete card answers and a final
// reply whose deciphered length holds the result (the control keeps the final
// reply's padding, so that is all it can know), and the whole dialogue must end
// within the sum of its limits.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>

#include "cloud/relay.h"
#include "cloud/rsa_pem.h"
#include "cloud/sam_session.h"
#include "fuzz/support/finding.h"
#include "fuzz/support/scripted_card.h"
#include "fuzz/support/scripted_socket.h"

using namespace qardex;

namespace {

constexpr std::size_t kReplies = 3;
constexpr std::int64_t kDialogueLimitMs =
    cloud::kHelloReplyWaitSeconds * 1000LL + cloud::kFramedReplyLimitMs +
    2 * (cloud::kLaterReplyWaitSeconds * 1000LL + cloud::kFramedReplyLimitMs);
constexpr char kClientKeyText[] =
    "-----BEGIN PUBLIC KEY-----\n"
    "MIGfMA0GCSqGSIb3DQEBAQUAA4GNADCBiQKBgQC7+fuzzfuzzfuzzfuzzfuzzfuzzfuzzfuzzfuzzfuzz\n";

// Key handling whose results the input decides; the server's key can be read
// with the real PEM reader.
class ScriptedKeys : public cloud::SessionKeys {
 public:
  int privateKeyLength = 900;
  int publicKeyLength = 272;
  bool realServerKey = false;
  int secretLength = 0;
  std::array<std::uint8_t, 256> secret{};
  int encryptLength = 128;

  void GenerateKeyPair() override {}
  int WritePrivateKey(const char*) override { return privateKeyLength; }
  int WritePublicKey(std::string& text) override {
    text = kClientKeyText;
    return publicKeyLength;
  }
  bool OpenServerKey(const char* text) override {
    if (realServerKey) return cloud::open_publice_key(text) != nullptr;
    return text[0] != '\0';
  }
  std::string ServerKeyDigest() override { return std::string(64, 'A'); }
  int DecryptWithClientKey(const std::uint8_t*, int, std::uint8_t* out) override {
    std::copy(secret.begin(), secret.end(), out);
    return secretLength;
  }
  int EncryptWithServerKey(const std::uint8_t*, int, std::uint8_t* out) override {
    std::fill(out, out + 256, 0x5A);
    return encryptLength;
  }
  void LogCryptoError(const char*) override {}
};

class OneSocketConnector : public cloud::ServerConnector {
 public:
  std::unique_ptr<fuzzing::ScriptedSocket> socket;
  fuzzing::ScriptedSocket* last = nullptr;
  std::unique_ptr<cloud::StreamSocket> Connect(const std::string&, int,
                                               cloud::WaitPulse&) override {
    last = socket.get();
    return std::move(socket);
  }
};

struct Reply {
  int mode = 0;  // 0 sealed, 1 raw with the trailer added, 2 raw as it is
  std::string bytes;
  std::size_t sealedLength = 0;  // mode 0: the padded plaintext's length
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::uint8_t flags = input.ConsumeIntegral<std::uint8_t>();

  ScriptedKeys keys;
  if ((flags & 7) == 1) keys.privateKeyLength = -1;
  if ((flags & 7) == 2) keys.publicKeyLength = 0;
  keys.realServerKey = (flags & 8) != 0;
  keys.secretLength = input.ConsumeIntegralInRange<int>(-1, 256);
  keys.encryptLength = input.ConsumeIntegralInRange<int>(-1, 256);
  input.ConsumeData(keys.secret.data(), 16);

  cloud::SessionRequest request;
  request.host = "auth.qardex.example";
  request.portText = "443";
  for (std::size_t i = 0; i < request.clientRandom.size(); ++i) request.clientRandom[i] = i;
  for (std::size_t i = 0; i < request.helloKey.size(); ++i) request.helloKey[i] = 0x30 + i;
  // A pin list that the scripted server key never matches: nothing may succeed past it.
  if ((flags & 16) != 0) request.serverKeyPins = {std::string(64, 'b')};

  fuzzing::ScriptedCard card;
  card.UseOneReader();
  const std::size_t cardAnswers = input.ConsumeIntegralInRange<std::size_t>(0, 4);
  card.ReadAnswers(input, cardAnswers);

  // The replies, sealed under the key the client will hold at each step.
  cloud::SessionKey sessionKey{};
  cloud::compose_session_key(sessionKey, keys.secret.data(),
                             static_cast<std::size_t>(std::max(keys.secretLength, 0)),
                             request.clientRandom);
  const crypto::TdeaKey helloKey = cloud::HelloTdeaKey(request.helloKey);
  const crypto::TdeaKey laterKey = cloud::SessionTdeaKey(sessionKey);
  auto socket = std::make_unique<fuzzing::ScriptedSocket>();
  std::array<Reply, kReplies> replies{};
  for (std::size_t i = 0; i < kReplies; ++i) {
    Reply& reply = replies[i];
    reply.mode = input.ConsumeIntegralInRange<int>(0, 2);
    reply.bytes = input.ConsumeRandomLengthString(1100);
    const int chunk = input.ConsumeIntegralInRange<int>(0, 255);
    std::string wire = reply.bytes;
    if (reply.mode == 0) {
      const cloud::Bytes sealed =
          cloud::SealMessage(reinterpret_cast<const std::uint8_t*>(reply.bytes.data()),
                             reply.bytes.size(), i == 0 ? helloKey : laterKey);
      wire.assign(sealed.begin(), sealed.end());
      reply.sealedLength = sealed.size() - (sizeof cloud::kFrameTrailer - 1);
    } else if (reply.mode == 1) {
      wire += cloud::kFrameTrailer;
    }
    for (std::size_t at = 0; at < wire.size();) {
      const std::size_t piece = chunk == 0 ? wire.size() : static_cast<std::size_t>(chunk);
      socket->Add({fuzzing::ScriptedSocket::Event::Kind::Data, wire.substr(at, piece)});
      at += piece;
    }
    // A pause before the next reply keeps pieces of two replies apart.
    socket->Add({fuzzing::ScriptedSocket::Event::Kind::Silence, {}, 5});
  }
  socket->ReadScript(input, 16);  // whatever the server does after that
  socket->ArmWatchdog(kDialogueLimitMs);

  OneSocketConnector connector;
  if ((flags & 7) != 3) connector.socket = std::move(socket);

  cloud::SessionResult result{};
  std::int32_t code = 0;
  try {
    code = cloud::cloud_sam_session(request, keys, connector, card::CardChannel{card, 2}, result);
  } catch (const fuzzing::LoopPastLimit&) {
    return 0;  // a known fault, looked past
  }
  QARDEX_FUZZ_CHECK(
      code == 0 || code == 4061 || (code >= 8001 && code <= 8008) || (code >= 8300 && code <= 8306),
      "session error code");
  if (code != 0) return 0;

  QARDEX_FUZZ_CHECK(request.serverKeyPins.empty(), "unpinned server key taken");
  // Success must rest on what was asked for, in full.
  QARDEX_FUZZ_CHECK(card.LastDataLength(0xCA) >= 12, "short card identifier taken as success");
  QARDEX_FUZZ_CHECK(card.LastDataLength(0x84) >= 8, "short challenge taken as success");
  QARDEX_FUZZ_CHECK(card.LastDataLength(0x82) >= 16, "short card answer taken as success");
  const Reply& last = replies[kReplies - 1];
  const std::size_t fullReply = cloud::kFinalReplyResultOffset + cloud::kResultLength;
  const std::size_t deciphered = last.mode == 0 ? last.sealedLength : last.bytes.size();
  QARDEX_FUZZ_CHECK(deciphered >= fullReply, "short final reply taken as success");
  if (last.mode == 0) {
    // Past the reply's own bytes the result holds the sealing's padding, kept as it came.
    const std::size_t own =
        std::min(cloud::kResultLength, last.bytes.size() - cloud::kFinalReplyResultOffset);
    QARDEX_FUZZ_CHECK(
        std::memcmp(result.data(), last.bytes.data() + cloud::kFinalReplyResultOffset, own) == 0,
        "result is the final reply's");
  }
  return 0;
}
