#include "cloud/winsock_connector.h"

#include "cloud/server_connection.h"

namespace qardex::cloud {

std::unique_ptr<StreamSocket> WinsockConnector::Connect(const std::string& host, int port,
                                                        WaitPulse& pulse) {
  auto socket = std::make_unique<WinsockSocket>();
  if (connect_to_server(host, port, *socket, pulse) != 0) return nullptr;
  return socket;
}

}  // namespace qardex::cloud
