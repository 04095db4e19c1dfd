// H_Sign: the card's authentication by the server's SAM.
#include <algorithm>
#include <string>

#include "card/card_commands.h"
#include "card/reader_session.h"
#include "cloud/crypto_library.h"
#include "cloud/openssl_session_keys.h"
#include "cloud/sam_session.h"
#include "cloud/winsock_connector.h"
#include "cloud/winsock_socket.h"
#include "control/ctwqardex.h"
#include "control/method_guard.h"
#include "engine/random_generator.h"
#include "crypto/key_material.h"
#include "diag/error_log.h"
#include "qardex_constants.h"

namespace qardex::control {

namespace {

constexpr char kServicePortText[] = "443";

cloud::SessionRequest MakeRequest(const std::string& pageRandomText) {
  cloud::SessionRequest request;
  request.host = build::kAuthServerHost;
  request.portText = kServicePortText;
  // The first 20 bytes of the page's random, zero-filled behind a shorter one.
  std::copy_n(pageRandomText.begin(), std::min(pageRandomText.size(), request.pageRandom.size()),
              request.pageRandom.begin());
  SeedRandomWithTime();
  const std::string clientRandom = RandomDigits16();
  std::copy_n(clientRandom.begin(), request.clientRandom.size(), request.clientRandom.begin());
  request.helloKey = crypto::BuildHelloKey();
  return request;
}

}  // namespace

HRESULT CtwQARDEX::H_Sign(BSTR sRandom, BSTR* CryptoBIN) {
  if (CryptoBIN == nullptr) return E_POINTER;
  return Guarded([&] {
    const cloud::WinsockSession winsock;
    if (winsock.result() != 0) {
      // Winsock's own number; lastError stays as it was.
      return signatureText_.Deliver(std::to_string(winsock.result()), CryptoBIN);
    }
    const cloud::CryptoLibraryUse cryptoLibrary;

    ResultText input;  // an absent string reads as the empty one
    const HRESULT result = input.AssignWide(sRandom);
    if (FAILED(result)) return result;

    std::string text;
    {
      card::CardSession session(card::SystemPcsc());
      std::int32_t status = card::OpenHCCard(session);
      cloud::SessionResult sessionResult{};
      const card::CardChannel channel{session.pcsc(), session.card()};
      if (status == card::kScanOk) {
        cloud::OpenSslSessionKeys keys;
        cloud::WinsockConnector connector;
        status = cloud::cloud_sam_session(MakeRequest(input.Narrow()), keys, connector, channel,
                                          sessionResult);
      }
      if (status == 0) {
        diag::AppendErrorLog("Ret = %d\r\n", 0);
        card::ResponseBuffer ignored;
        card::SelectHC31(channel, ignored);
        text = sessionResult.data();
      } else {
        lastError_ = status;
        text = std::to_string(status);
      }
    }  // the card and the reader context are released here
    return signatureText_.Deliver(text, CryptoBIN);
  });
}

}  // namespace qardex::control
