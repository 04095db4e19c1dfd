#include "cloud/winsock_connector.h"

#include <utility>

#include "cloud/server_connection.h"

namespace qardex::cloud {

namespace {

class LookedUpAhead final : public PendingConnection {
 public:
  LookedUpAhead(std::string host, int port) : host_(std::move(host)), port_(port), route_(host_) {}
  std::unique_ptr<StreamSocket> Finish(WaitPulse& pulse) override {
    auto socket = std::make_unique<WinsockSocket>();
    if (connect_to_server(host_, port_, route_, *socket, pulse) != 0) return nullptr;
    return socket;
  }

 private:
  std::string host_;
  int port_;
  ProxyLookup route_;
};

}  // namespace

std::unique_ptr<StreamSocket> WinsockConnector::Connect(const std::string& host, int port,
                                                        WaitPulse& pulse) {
  return Begin(host, port)->Finish(pulse);
}

std::unique_ptr<PendingConnection> WinsockConnector::Begin(const std::string& host, int port) {
  return std::make_unique<LookedUpAhead>(host, port);
}

}  // namespace qardex::cloud
