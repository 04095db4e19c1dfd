// The authentication session behind H_Sign: a one-time RSA key exchange with
// the authentication server, then the relay of the mutual authentication
// between the card and the server's SAM.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "card/card_commands.h"
#include "cloud/sam_messages.h"
#include "cloud/stream_socket.h"
#include "cloud/wait_pulse.h"
#include "crypto/secure_zero.h"

namespace qardex::cloud {

// The key handling the session needs; the library's implementation is libcrypto.
class SessionKeys {
 public:
  virtual ~SessionKeys() = default;
  // A fresh client key pair (failure shows when its texts are written).
  virtual void GenerateKeyPair() = 0;
  // The private key as enciphered PEM text under `passphrase`: its length, or -1.
  virtual int WritePrivateKey(const char* passphrase) = 0;
  // The public key as PEM text: its length, or -1.
  virtual int WritePublicKey(std::string& text) = 0;
  virtual bool OpenServerKey(const char* publicKeyText) = 0;
  // The opened server key's digest as a pin list names it (cloud/server_key_pins.h), or "".
  virtual std::string ServerKeyDigest() = 0;
  // PKCS#1 v1.5 with the client's private key / the server's public key.
  // `out` holds 256 bytes. The output length, or -1.
  virtual int DecryptWithClientKey(const std::uint8_t* in, int length, std::uint8_t* out) = 0;
  virtual int EncryptWithServerKey(const std::uint8_t* in, int length, std::uint8_t* out) = 0;
  virtual void LogCryptoError(const char* text) = 0;
};

// A connection begun ahead: what it needs that takes long and waits for no one (the proxy
// look-up) runs beside the caller's own work until Finish connects.
class PendingConnection {
 public:
  virtual ~PendingConnection() = default;
  virtual std::unique_ptr<StreamSocket> Finish(WaitPulse& pulse) = 0;
};

// Opens the connection to the server (directly or through the proxy), beating `pulse` while
// it waits.
class ServerConnector {
 public:
  virtual ~ServerConnector() = default;
  virtual std::unique_ptr<StreamSocket> Connect(const std::string& host, int port,
                                                WaitPulse& pulse) = 0;
  // By default nothing runs ahead: Finish connects.
  virtual std::unique_ptr<PendingConnection> Begin(const std::string& host, int port);
};

// The session's inputs. The client random is drawn by the caller from the
// system's cryptographic generator.
struct SessionRequest {
  std::string host;
  std::string portText;
  // The administrator's pin list; empty: any server key is used.
  std::vector<std::string> serverKeyPins;
  ClientRandom clientRandom{};
  PageRandom pageRandom{};
  crypto::HelloKey helloKey{};
  // The client random is half the session key: no copy of it outlives its holder.
  ~SessionRequest() {
    crypto::SecureZero(clientRandom.data(), clientRandom.size());
    crypto::SecureZero(helloKey.data(), helloKey.size());
  }
};

// The 256-byte result plus a terminating zero.
using SessionResult = std::array<char, kResultLength + 1>;

// Runs the whole dialogue; 0 with the result filled in, or the error code of
// the failing step (4061, 8001-8008, 8300-8306). The socket is closed on
// every way out. Every network wait, the connection's included, beats `pulse`.
std::int32_t cloud_sam_session(const SessionRequest& request, SessionKeys& keys,
                               ServerConnector& connector, const card::CardChannel& card,
                               SessionResult& result, WaitPulse& pulse = NoWaitPulse());

// Seconds to wait for the first data of each reply.
inline constexpr int kHelloReplyWaitSeconds = 20;
inline constexpr int kLaterReplyWaitSeconds = 60;

}  // namespace qardex::cloud
