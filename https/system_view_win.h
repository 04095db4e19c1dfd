// What Windows says about the process at the other end of a loopback connection: the TCP table's
// owner, the process's session and user, and the user signed in to a session.
#pragma once

#include "https/caller_lookup.h"
#include "https/connection_owners.h"

namespace qardex::service {

class WindowsSystemView final : public SystemView {
 public:
  WindowsSystemView();

  std::optional<std::uint32_t> OwnerOfConnection(std::uint16_t peerPort,
                                                 std::uint16_t servicePort) override;
  ProcessIdentity IdentityOfProcess(std::uint32_t processId) override;
  std::optional<std::string> UserOfSession(std::uint32_t windowsSession) override;

 private:
  SharedTableReads connections_;
};

}  // namespace qardex::service
