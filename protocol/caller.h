// Who is calling: a process, its Windows session and its user, and whether the service works for
// it (each transport finds its callers its own way).
#pragma once

#include <cstdint>
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

}  // namespace qardex::service
