#include "protocol/caller.h"

namespace qardex::service {

const char* RefusalText(CallerRefusal refusal) {
  switch (refusal) {
    case CallerRefusal::None:
      return "caller accepted";
    case CallerRefusal::NoOwner:
      return "no process could be found for the connection";
    case CallerRefusal::SystemSession:
      return "the caller runs in the services' session";
    case CallerRefusal::NoInteractiveUser:
      return "nobody is signed in to the caller's session";
    case CallerRefusal::NotSessionUser:
      return "the caller runs as another user than the one signed in to its session";
  }
  return "caller refused";
}

}  // namespace qardex::service
