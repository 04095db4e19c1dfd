// GET /v1/session/<id>/events: the readers' events as a server-sent event stream, one JSON
// object per event, and a comment line as heartbeat.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "https/event_feed.h"
#include "protocol/page_protocol.h"

namespace qardex::service {

// A stream with nothing to say says this often that it is alive (and finds out whether the page
// is still there, and whether its session still is).
inline constexpr std::chrono::milliseconds kHeartbeat{15'000};

class ReaderStream final : public EventFeed {
 public:
  explicit ReaderStream(std::shared_ptr<ReaderEventSource> events,
                        std::chrono::milliseconds heartbeat = kHeartbeat);
  bool Next(std::string& bytes, std::chrono::milliseconds limit) override;

 private:
  const std::shared_ptr<ReaderEventSource> events_;
  const std::chrono::milliseconds heartbeat_;
  std::chrono::steady_clock::time_point lastSent_;
};

}  // namespace qardex::service
