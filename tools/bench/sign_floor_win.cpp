// qardex-sign-floor: the floor of H_Sign under Wine. A minimal Windows program that does what
// one H_Sign call must do and nothing else: the reader scan keeping the card, a fresh RSA-1024
// key pair with its two PEM texts, the connection to the server (directly, no proxy look-up),
// the key exchange and the relay between card and server, SELECT of the closing application,
// and the same daily-log entries. Windows Sockets and libcrypto are started once.
//
//   qardex-sign-floor ITERATIONS [log|nolog] [ready-key]
//
// "nolog" points the temporary-files folder at a name too long to use, so every log entry is
// dropped before its file is opened. "ready-key" makes one key pair before the timing and uses
// it in every call: the floor of a call whose key pair was made ahead, the network round trips
// and card commands alone. Prints "mean_us=... iterations=N found=F".
// To find what a control call spends beyond the floor, QARDEX_SIGN_FLOOR_WITH may name steps
// the control takes per call: "startup" (Windows Sockets started and cleaned up), "thread"
// (libcrypto's per-thread state released), "proxy" (the connection through the proxy look-up).
// QARDEX_SIGN_FLOOR_PAUSE_MS paces the calls as a benchmark paces the calls it compares with:
// that many milliseconds between two calls, not counted in the mean.
#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "card/card_commands.h"
#include "card/reader_session.h"
#include "cloud/crypto_library.h"
#include "cloud/key_pair_source.h"
#include "cloud/openssl_session_keys.h"
#include "cloud/sam_session.h"
#include "cloud/winsock_connector.h"
#include "cloud/winsock_socket.h"
#include "crypto/key_material.h"
#include "diag/error_log.h"
#include "qardex_constants.h"

namespace {

using namespace qardex;

class DirectConnector final : public cloud::ServerConnector {
 public:
  std::unique_ptr<cloud::StreamSocket> Connect(const std::string& host, int port,
                                               cloud::WaitPulse&) override {
    const hostent* entry = gethostbyname(host.c_str());
    if (entry == nullptr || entry->h_addr_list[0] == nullptr) return nullptr;
    auto socket = std::make_unique<cloud::WinsockSocket>(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<u_short>(port));
    std::memcpy(&peer.sin_addr, entry->h_addr_list[0], sizeof peer.sin_addr);
    if (connect(socket->get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
      return nullptr;
    }
    const BOOL noDelay = TRUE;
    setsockopt(socket->get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof noDelay);
    return socket;
  }
};

bool WithStep(const char* step) {
  const char* steps = std::getenv("QARDEX_SIGN_FLOOR_WITH");
  return steps != nullptr && std::strstr(steps, step) != nullptr;
}

// One key pair made before the timing, lent to every call.
class OneKeyPairMadeBefore final : public cloud::KeyPairSource {
 public:
  cloud::KeyPair Take() override {
    if (!pair_ || EVP_PKEY_up_ref(pair_.get()) != 1) return nullptr;
    return cloud::KeyPair(pair_.get());
  }

 private:
  const cloud::KeyPair pair_ = cloud::generate_key_pair();
};

bool SignOnce(cloud::ServerConnector& connector, cloud::KeyPairSource& clientKeys) {
  WSADATA data{};
  const bool startup = WithStep("startup") && WSAStartup(MAKEWORD(2, 2), &data) == 0;
  struct Cleanup {
    bool startup;
    ~Cleanup() {
      if (WithStep("thread")) cloud::ReleaseThreadCryptoState();
      if (startup) WSACleanup();
    }
  } cleanup{startup};
  card::CardSession session(card::SystemPcsc());
  if (card::OpenHCCard(session) != card::kScanOk) return false;
  const card::CardChannel channel{session.pcsc(), session.card()};
  cloud::SessionRequest request;
  request.host = build::kAuthServerHost;
  request.portText = "443";
  std::memset(request.pageRandom.data(), 'P', request.pageRandom.size());
  std::memset(request.clientRandom.data(), '7', request.clientRandom.size());
  request.helloKey = crypto::BuildHelloKey();
  cloud::OpenSslSessionKeys keys(clientKeys);
  cloud::SessionResult result{};
  if (cloud::cloud_sam_session(request, keys, connector, channel, result) != 0) return false;
  diag::AppendErrorLog("Ret = %d\r\n", 0);
  card::ResponseBuffer ignored;
  card::SelectHC31(channel, ignored);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const long iterations = argc >= 2 ? std::strtol(argv[1], nullptr, 10) : 0;
  const bool readyKey = argc == 4 && std::strcmp(argv[3], "ready-key") == 0;
  if (iterations < 1 || argc > 4 || (argc == 4 && !readyKey) ||
      (argc >= 3 && std::strcmp(argv[2], "log") != 0 && std::strcmp(argv[2], "nolog") != 0)) {
    std::fprintf(stderr, "usage: qardex-sign-floor ITERATIONS [log|nolog] [ready-key]\n");
    return 2;
  }
  if (argc >= 3 && std::strcmp(argv[2], "nolog") == 0) {
    SetEnvironmentVariableA("TMP", std::string(MAX_PATH + 10, 'x').c_str());
    SetEnvironmentVariableA("TEMP", std::string(MAX_PATH + 10, 'x').c_str());
  }
  WSADATA data{};
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 1;
  cloud::EnsureCryptoLibrary();
  DirectConnector direct;
  cloud::WinsockConnector throughProxy;
  cloud::ServerConnector& connector =
      WithStep("proxy") ? static_cast<cloud::ServerConnector&>(throughProxy) : direct;
  std::optional<OneKeyPairMadeBefore> madeBefore;
  if (readyKey) madeBefore.emplace();
  cloud::KeyPairSource& clientKeys =
      madeBefore ? static_cast<cloud::KeyPairSource&>(*madeBefore) : cloud::KeysMadeInTheCall();
  const char* pauseText = std::getenv("QARDEX_SIGN_FLOOR_PAUSE_MS");
  const DWORD pauseMs = pauseText != nullptr ? std::strtoul(pauseText, nullptr, 10) : 0;
  long found = 0;
  std::chrono::duration<double, std::micro> elapsed{0};
  for (long i = 0; i < iterations; ++i) {
    if (i > 0 && pauseMs > 0) Sleep(pauseMs);
    const auto start = std::chrono::steady_clock::now();
    found += SignOnce(connector, clientKeys) ? 1 : 0;
    elapsed += std::chrono::steady_clock::now() - start;
  }
  std::printf("mean_us=%.1f iterations=%ld found=%ld\n", elapsed.count() / iterations, iterations,
              found);
  WSACleanup();
  return found == iterations ? 0 : 1;
}
