// ServiceStatus: can the authentication server be reached?
#include "cloud/server_connection.h"
#include "control/ctwqardex.h"
#include "engine/error_catalogue.h"
#include "control/method_guard.h"
#include "qardex_constants.h"

namespace qardex::control {

HRESULT CtwQARDEX::ServiceStatus(LONG* iRet) {
  if (iRet == nullptr) return E_POINTER;
  return Guarded([&] {
    const cloud::WinsockSession winsock;
    if (winsock.result() != 0) {
      *iRet = winsock.result();  // Winsock's own number; lastError stays
      return S_OK;
    }
    cloud::WinsockSocket socket;
    if (cloud::connect_to_server(build::kAuthServerHost, cloud::kServerPort, socket) != 0) {
      *iRet = kServerUnreachable;
      lastError_ = kServerUnreachable;
    } else {
      *iRet = 0;
      socket.Close();
    }
    return S_OK;
  });
}

}  // namespace qardex::control
