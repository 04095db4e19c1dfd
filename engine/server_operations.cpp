// ServiceStatus and H_Sign: the operations that talk to the authentication server.
#include <algorithm>
#include <string>

#include "card/card_commands.h"
#include "card/reader_session.h"
#include "cloud/sam_session.h"
#include "common/error_codes.h"
#include "crypto/key_material.h"
#include "crypto/secure_zero.h"
#include "diag/error_log.h"
#include "engine/client_random.h"
#include "engine/random_generator.h"
#include "engine/session.h"
#include "qardex_constants.h"

namespace qardex::engine {

namespace {

constexpr int kServerPort = 443;
constexpr char kServerPortText[] = "443";

// The network stack for the length of one call.
class NetworkUse {
 public:
  explicit NetworkUse(Platform& platform) : platform_(platform), result_(platform.StartNetwork()) {}
  ~NetworkUse() {
    if (result_ == 0) platform_.StopNetwork();
  }
  NetworkUse(const NetworkUse&) = delete;
  NetworkUse& operator=(const NetworkUse&) = delete;
  int result() const { return result_; }

 private:
  Platform& platform_;
  int result_;
};

class CryptoUse {
 public:
  explicit CryptoUse(Platform& platform) : platform_(platform) { platform_.BeginCryptoUse(); }
  ~CryptoUse() { platform_.EndCryptoUse(); }
  CryptoUse(const CryptoUse&) = delete;
  CryptoUse& operator=(const CryptoUse&) = delete;

 private:
  Platform& platform_;
};

// Windows ends a card transaction that sees no card call for 5 s and resets the card, which
// would undo the SELECT and the challenge before the server's answer reaches the card. Asking
// for the card's state while the dialogue waits keeps the transaction; a card that has gone is
// told by the next command, so the answer is not needed here.
class CardKeepAlive final : public cloud::WaitPulse {
 public:
  explicit CardKeepAlive(const card::CardChannel& card) : card_(card) {}
  void Beat() override { card_.pcsc.Status(card_.card); }

 private:
  card::CardChannel card_;
};

// False when the system's generator gives no client random.
bool MakeRequest(Platform& platform, const std::string& pageRandomText,
                 cloud::SessionRequest& request) {
  request.host = build::kAuthServerHost;
  request.portText = kServerPortText;
  request.serverKeyPins = platform.ServerKeyPins();
  // The first 20 bytes of the page's random, zero-filled behind a shorter one.
  std::copy_n(pageRandomText.begin(), std::min(pageRandomText.size(), request.pageRandom.size()),
              request.pageRandom.begin());
  // The control's generator is seeded and drawn as it always was here, so the digits that
  // GetRandom and EnCrypt give afterwards stay the same; its digits are not the secret.
  SeedRandomWithTime();
  std::string digits = RandomDigits16();
  const bool drawn = SystemRandomDigits16(platform, digits);
  if (drawn) std::copy_n(digits.begin(), request.clientRandom.size(), request.clientRandom.begin());
  crypto::SecureZero(digits.data(), digits.size());
  request.helloKey = crypto::BuildHelloKey();
  return drawn;
}

}  // namespace

std::int32_t Session::ServiceStatus() {
  const NetworkUse network(platform_);
  if (network.result() != 0) return network.result();  // the stack's own number; lastError stays
  if (!platform_.Connector().Connect(build::kAuthServerHost, kServerPort, cloud::NoWaitPulse())) {
    lastError_ = common::kServerUnreachable;
    return common::kServerUnreachable;
  }
  return 0;  // the connection closed again as it went out of scope
}

const std::string& Session::H_Sign(const PageText& pageRandom) {
  const NetworkUse network(platform_);
  if (network.result() != 0) {
    // The stack's own number; lastError stays as it was.
    return signatureText_ = std::to_string(network.result());
  }
  const CryptoUse cryptoUse(platform_);

  std::string text;
  {
    card::CardSession session(platform_.Pcsc());
    std::int32_t status = card::OpenHCCard(session);
    cloud::SessionResult sessionResult{};
    const card::CardChannel channel{session.pcsc(), session.card()};
    if (status == card::kScanOk) {
      cloud::SessionRequest request;
      if (MakeRequest(platform_, pageRandom.ansi, request)) {
        const std::unique_ptr<cloud::SessionKeys> keys = platform_.NewSessionKeys();
        CardKeepAlive keepAlive(channel);
        status = cloud::cloud_sam_session(request, *keys, platform_.Connector(), channel,
                                          sessionResult, keepAlive);
      } else {
        diag::AppendErrorLog("System random failed\r\n");
        status = common::kPublicEncryptFailed;
      }
    }
    if (status == 0) {
      diag::AppendErrorLog("Ret = %d\r\n", 0);
      card::ResponseBuffer ignored;
      card::SelectHC31(channel, ignored);
      text = sessionResult.data();
    } else {
      text = Fail(status);
    }
  }  // the card and the reader context are released here
  return signatureText_ = std::move(text);
}

}  // namespace qardex::engine
