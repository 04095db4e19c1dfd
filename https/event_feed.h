// A stream of server-sent events that one connection sends until it ends: the router makes it,
// the listener's connection thread drains it.
#pragma once

#include <chrono>
#include <string>

namespace qardex::service {

class EventFeed {
 public:
  virtual ~EventFeed() = default;
  // Waits at most `limit` for the next bytes to send (an event or a heartbeat, already in the
  // event-stream format); `bytes` stays empty when there is nothing yet. False once the stream
  // is over.
  virtual bool Next(std::string& bytes, std::chrono::milliseconds limit) = 0;
};

}  // namespace qardex::service
