#include "https/reader_stream.h"

#include <utility>

namespace qardex::service {

ReaderStream::ReaderStream(std::shared_ptr<ReaderEventSource> events,
                           std::chrono::milliseconds heartbeat)
    : events_(std::move(events)),
      heartbeat_(heartbeat),
      lastSent_(std::chrono::steady_clock::now()) {}

bool ReaderStream::Next(std::string& bytes, std::chrono::milliseconds limit) {
  bytes.clear();
  const ReaderWatcher::Next next = events_->Wait(limit);
  if (next.status == ReaderWatcher::Status::Ended) return false;
  const auto now = std::chrono::steady_clock::now();
  if (next.status == ReaderWatcher::Status::Event) {
    bytes = "data: " + ReaderEventJson(next.event) + "\n\n";
  } else if (now - lastSent_ >= heartbeat_) {
    if (!events_->SessionAlive()) return false;
    bytes = ": alive\n\n";
  } else {
    return true;
  }
  lastSent_ = now;
  return true;
}

}  // namespace qardex::service
