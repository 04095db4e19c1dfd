// Who is at the other end of a loopback connection: the process that owns it, its Windows session
// and its user, as SystemView reports them (bound to the system on Windows, to fakes in tests),
// and whether the service works for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/caller.h"

namespace qardex::service {

// A process's Windows session and user, read together from one handle to it (by process id
// twice, the second read could meet another process that took over the id); each is nothing
// when the process does not tell.
struct ProcessIdentity {
  std::optional<std::uint32_t> windowsSession;
  std::optional<std::string> userSid;
};

class SystemView {
 public:
  virtual ~SystemView() = default;
  // The process that owns the TCP connection from 127.0.0.1:peerPort to 127.0.0.1:servicePort.
  virtual std::optional<std::uint32_t> OwnerOfConnection(std::uint16_t peerPort,
                                                         std::uint16_t servicePort) = 0;
  virtual ProcessIdentity IdentityOfProcess(std::uint32_t processId) = 0;
  // The user signed in to that session, or nothing when nobody is.
  virtual std::optional<std::string> UserOfSession(std::uint32_t windowsSession) = 0;
};

CallerCheck IdentifyCaller(SystemView& system, std::uint16_t peerPort, std::uint16_t servicePort);

}  // namespace qardex::service
