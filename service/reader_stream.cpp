#include "service/reader_stream.h"

#include <utility>

namespace qardex::service {

WatcherSeats::WatcherSeats(std::size_t perSession, std::size_t overall)
    : perSessionLimit_(perSession), overallLimit_(overall) {}

std::unique_ptr<WatcherSeats::Seat> WatcherSeats::Take(std::string_view session) {
  std::lock_guard<std::mutex> hold(counts_->lock);
  const auto found = counts_->perSession.find(session);
  const std::size_t held = found == counts_->perSession.end() ? 0 : found->second;
  if (held >= perSessionLimit_ || counts_->overall >= overallLimit_) return nullptr;
  auto seat = std::make_unique<Seat>(counts_, std::string(session));
  ++counts_->perSession[std::string(session)];
  ++counts_->overall;
  return seat;
}

WatcherSeats::Seat::~Seat() {
  std::lock_guard<std::mutex> hold(counts_->lock);
  const auto found = counts_->perSession.find(session_);
  if (found != counts_->perSession.end() && --found->second == 0) {
    counts_->perSession.erase(found);
  }
  --counts_->overall;
}

ReaderStream::ReaderStream(std::shared_ptr<ReaderWatcher> watcher,
                           std::unique_ptr<WatcherSeats::Seat> seat, std::function<bool()> alive,
                           std::chrono::milliseconds heartbeat)
    : watcher_(std::move(watcher)),
      seat_(std::move(seat)),
      alive_(std::move(alive)),
      heartbeat_(heartbeat),
      lastSent_(std::chrono::steady_clock::now()) {}

bool ReaderStream::Next(std::string& bytes, std::chrono::milliseconds limit) {
  bytes.clear();
  std::string json;
  const ReaderWatcher::Status status = watcher_->Next(json, limit);
  if (status == ReaderWatcher::Status::Ended) return false;
  const auto now = std::chrono::steady_clock::now();
  if (status == ReaderWatcher::Status::Message) {
    bytes = "data: " + json + "\n\n";
  } else if (now - lastSent_ >= heartbeat_) {
    if (!alive_()) return false;
    bytes = ": alive\n\n";
  } else {
    return true;
  }
  lastSent_ = now;
  return true;
}

}  // namespace qardex::service
