// The session's connection step over Windows Sockets.
#pragma once

#include "cloud/sam_session.h"

namespace qardex::cloud {

class WinsockConnector final : public ServerConnector {
 public:
  std::unique_ptr<StreamSocket> Connect(const std::string& host, int port,
                                        WaitPulse& pulse) override;
  // The proxy look-up starts now.
  std::unique_ptr<PendingConnection> Begin(const std::string& host, int port) override;
};

}  // namespace qardex::cloud
