#include "https/caller_lookup.h"

namespace qardex::service {

CallerCheck IdentifyCaller(SystemView& system, std::uint16_t peerPort, std::uint16_t servicePort) {
  CallerCheck check;  // refused until every answer is in
  // Process 0 is what the system reports when it knows no owner.
  const std::optional<std::uint32_t> owner = system.OwnerOfConnection(peerPort, servicePort);
  if (!owner || *owner == 0) return check;
  check.caller.processId = *owner;

  const ProcessIdentity identity = system.IdentityOfProcess(*owner);
  const std::optional<std::uint32_t>& session = identity.windowsSession;
  if (!session) return check;
  check.caller.windowsSession = *session;
  if (*session == 0) {
    check.refusal = CallerRefusal::SystemSession;
    return check;
  }

  const std::optional<std::string>& user = identity.userSid;
  if (!user || user->empty()) return check;
  check.caller.userSid = *user;

  const std::optional<std::string> sessionUser = system.UserOfSession(*session);
  if (!sessionUser || sessionUser->empty()) {
    check.refusal = CallerRefusal::NoInteractiveUser;
  } else if (*sessionUser != *user) {
    check.refusal = CallerRefusal::NotSessionUser;
  } else {
    check.refusal = CallerRefusal::None;
  }
  return check;
}

}  // namespace qardex::service
