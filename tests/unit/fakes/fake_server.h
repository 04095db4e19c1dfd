// The server's side of the authentication session for tests: key handling with canned answers,
// a connector that lends the session a scripted peer, and the server's replies built with the
// message builders.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cloud/sam_session.h"
#include "crypto/key_material.h"
#include "crypto/tdea.h"
#include "tests/unit/fakes/fake_stream.h"

namespace qardex::testing {

using cloud::ClientRandom;
using cloud::ServerConnector;
using cloud::SessionKey;
using cloud::SessionKeys;
using cloud::StreamSocket;
using Bytes = std::vector<std::uint8_t>;

inline const std::string kClientKeyText = std::string(271, 'C') + "\n";
inline const std::string kServerKeyText = std::string(271, 'S') + "\n";
inline const std::string kServerKeyDigest = std::string(32, 'a') + std::string(32, '5');
inline const Bytes kServerSecret = {'s', 'e', 'c', 'r', 'e', 't', '-', 's', 'e',
                                    'r', 'v', 'e', 'r', '-', '1', '6', 'X', 'X'};
inline const Bytes kCardId = {'C', 'A', 'R', 'D', '0', '0', '0', '0', '0', '0', '0', '1'};
inline const Bytes kChallenge = {1, 2, 3, 4, 5, 6, 7, 8};
inline const Bytes kCardAnswer(16, 0xA5);

// Key handling with canned answers and switches for each failure.
class FakeKeys : public SessionKeys {
 public:
  int privateLength = 900;
  bool publicFails = false;
  bool serverKeyReadable = true;
  bool decryptFails = false;
  bool encryptFails = false;
  std::string passphraseSeen;
  const char* passphraseBuffer = nullptr;
  bool passphraseLingered = false;
  std::string serverKeySeen;
  std::vector<std::string> cryptoErrors;

  void GenerateKeyPair() override {}
  int WritePrivateKey(const char* passphrase) override {
    passphraseSeen = passphrase;
    passphraseBuffer = passphrase;
    return privateLength;
  }
  int WritePublicKey(std::string& text) override {
    text = publicFails ? "" : kClientKeyText;
    return static_cast<int>(text.size());
  }
  bool OpenServerKey(const char* text) override {
    serverKeySeen = text;
    // The session's passphrase buffer is still alive here; its one use is long over.
    passphraseLingered = passphraseBuffer != nullptr && passphraseBuffer[0] != '\0';
    return serverKeyReadable;
  }
  std::string ServerKeyDigest() override { return kServerKeyDigest; }
  int DecryptWithClientKey(const std::uint8_t*, int length, std::uint8_t* out) override {
    if (decryptFails || length != 128) return -1;
    std::copy(kServerSecret.begin(), kServerSecret.end(), out);
    return static_cast<int>(kServerSecret.size());
  }
  int EncryptWithServerKey(const std::uint8_t* in, int length, std::uint8_t* out) override {
    if (encryptFails) return -1;
    for (int i = 0; i < 128; ++i) out[i] = in[i % length] ^ 0x5A;
    return 128;
  }
  void LogCryptoError(const char* text) override { cryptoErrors.push_back(text); }
  ~FakeKeys() override {
    if (onDestroy) onDestroy();
  }
  std::function<void()> onDestroy;
};

// Hands the session a socket that forwards to a peer the test keeps, and
// notes when the session lets go of it (closes it).
class FakeConnector : public ServerConnector {
 public:
  class Borrowed : public StreamSocket {
   public:
    Borrowed(FakeStream& peer, int& closes) : peer_(peer), closes_(closes) {}
    ~Borrowed() override { ++closes_; }
    int Send(const char* d, int n) override { return peer_.Send(d, n); }
    int Recv(char* b, int n) override { return peer_.Recv(b, n); }
    int SelectReadable(int ms, bool& r) override { return peer_.SelectReadable(ms, r); }
    int LastError() override { return peer_.LastError(); }
    void Pause(int ms) override { peer_.Pause(ms); }
    std::int64_t NowMs() override { return peer_.NowMs(); }

   private:
    FakeStream& peer_;
    int& closes_;
  };

  std::unique_ptr<FakeStream> stream = std::make_unique<FakeStream>();
  FakeStream* peer = stream.get();
  bool reachable = true;
  int closes = 0;
  std::string host;
  int port = 0;
  std::unique_ptr<StreamSocket> Connect(const std::string& h, int p, cloud::WaitPulse&) override {
    host = h;
    port = p;
    if (!reachable) return nullptr;
    return std::make_unique<Borrowed>(*peer, closes);
  }
};

inline Bytes Plain(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The server's side of the dialogue, written with the message builders.
struct ServerScript {
  crypto::HelloKey helloKey = crypto::BuildHelloKey();
  ClientRandom clientRandom{};

  crypto::TdeaKey SessionKeyFor() const {
    SessionKey key{};
    cloud::compose_session_key(key, kServerSecret.data(), kServerSecret.size(), clientRandom);
    return cloud::SessionTdeaKey(key);
  }
  static std::string Wire(const Bytes& sealed) { return std::string(sealed.begin(), sealed.end()); }

  std::string HelloReply(std::string prefix = "Hello") const {
    Bytes plain = Plain(prefix + " " + kServerKeyText + "-----");
    plain.resize(283, 0);
    plain.insert(plain.end(), 128, 0x77);  // the RSA block of the secret
    return Wire(cloud::SealMessage(plain.data(), plain.size(), cloud::HelloTdeaKey(helloKey)));
  }
  std::string Reply02(std::size_t length = 44, const char* tag = "02") const {
    Bytes plain(length, '.');
    std::memcpy(plain.data(), tag, 2);
    for (std::size_t i = 0; i < 32 && 9 + i < length; ++i)
      plain[9 + i] = static_cast<std::uint8_t>(0xC0 + i);
    return Wire(cloud::SealMessage(plain.data(), plain.size(), SessionKeyFor()));
  }
  std::string FinalReply(const std::string& okTag = "OK", char resultByte = 'R',
                         int resultLength = 256) const {
    Bytes plain = Plain("########" + okTag + "########");
    for (int i = 0; i < resultLength; ++i)
      plain.push_back(static_cast<std::uint8_t>(resultByte + i % 3));
    // The control keeps the padding as it comes; any trailing bytes do.
    Bytes wire(plain.size() + 6, 0);
    std::copy(plain.begin(), plain.end(), wire.begin());
    Bytes sealed(wire.size() / 8 * 8, 0);
    crypto::TdeaEcbEncrypt(SessionKeyFor(), wire.data(), sealed.data(), sealed.size());
    return Wire(sealed) + "<E>";
  }
};

}  // namespace qardex::testing
