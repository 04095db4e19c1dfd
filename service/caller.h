// Who is calling: the process at the other end of a loopback connection, its Windows session and
// its user, and the decision whether the service works for it. The decision is pure; what Windows
// says about connections, processes and sessions comes through SystemView (bound to the system
// on Windows, to fakes in tests).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qardex::service {

struct Caller {
  std::uint32_t processId = 0;
  std::uint32_t windowsSession = 0;
  std::string userSid;  // "S-1-5-21-..."
};

enum class CallerRefusal {
  None,
  NoOwner,            // no process owns the connection (or it could not be looked up)
  SystemSession,      // the caller runs in session 0 (services)
  NoInteractiveUser,  // nobody is signed in to the caller's session
  NotSessionUser,     // the caller runs as another user than the one signed in to its session
};

struct CallerCheck {
  CallerRefusal refusal = CallerRefusal::NoOwner;
  Caller caller;
};

// A short English text for the service's own log.
const char* RefusalText(CallerRefusal refusal);

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
