#include "https/reader_stream.h"

#include <utility>

namespace qardex::service {

namespace {

template <class Map, class Key>
std::size_t HeldBy(const Map& counts, const Key& key) {
  const auto found = counts.find(key);
  return found == counts.end() ? 0 : found->second;
}

// Gives one seat of `key` back; a key that holds none is forgotten.
template <class Map, class Key>
void GiveBack(Map& counts, const Key& key) {
  const auto found = counts.find(key);
  if (found != counts.end() && --found->second == 0) counts.erase(found);
}

}  // namespace

WatcherSeats::WatcherSeats(std::size_t perSession, std::size_t overall,
                           std::size_t perWindowsSession)
    : perSessionLimit_(perSession),
      overallLimit_(overall),
      perWindowsSessionLimit_(perWindowsSession) {}

std::unique_ptr<WatcherSeats::Seat> WatcherSeats::Take(std::string_view session,
                                                       std::uint32_t windowsSession) {
  std::lock_guard<std::mutex> hold(counts_->lock);
  if (HeldBy(counts_->perSession, session) >= perSessionLimit_ ||
      HeldBy(counts_->perWindowsSession, windowsSession) >= perWindowsSessionLimit_ ||
      counts_->overall >= overallLimit_) {
    return nullptr;
  }
  auto seat = std::make_unique<Seat>(counts_, std::string(session), windowsSession);
  ++counts_->perSession[std::string(session)];
  ++counts_->perWindowsSession[windowsSession];
  ++counts_->overall;
  return seat;
}

WatcherSeats::Seat::~Seat() {
  std::lock_guard<std::mutex> hold(counts_->lock);
  GiveBack(counts_->perSession, session_);
  GiveBack(counts_->perWindowsSession, windowsSession_);
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
