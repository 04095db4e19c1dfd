// What one exchange with the local service came to: an HTTP answer, or how it failed.
#pragma once

#include <string>

namespace qardex::service_client {

enum class Outcome {
  Answered,  // a whole HTTP answer came back
  Closed,    // the service closed or reset the connection before a whole answer
  TimedOut,  // the deadline passed first
  Failed,    // anything else (refused connection, bad certificate, unreadable answer)
};

struct Answer {
  Outcome outcome = Outcome::Failed;
  int status = 0;
  std::string body;
  std::string problem;  // what went wrong, for messages
};

inline const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Answered:
      return "answered";
    case Outcome::Closed:
      return "closed";
    case Outcome::TimedOut:
      return "timeout";
    case Outcome::Failed:
      break;
  }
  return "failed";
}

}  // namespace qardex::service_client
