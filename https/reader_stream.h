// GET /v1/session/<id>/events: the readers' events as a server-sent event stream, one JSON
// object per event, a comment line as heartbeat, and bounds on how many watch at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "https/event_feed.h"
#include "protocol/reader_hub.h"

namespace qardex::service {

// Watchers of one service session (a page rarely needs more than one) and of all sessions
// together: each holds one of the service's connections for as long as it watches.
inline constexpr std::size_t kMaxWatchersPerSession = 4;
inline constexpr std::size_t kMaxWatchers = 32;
// Of those, what one Windows session may hold over all its service sessions: a quarter.
inline constexpr std::size_t kMaxWatchersPerWindowsSession = 8;
// A stream with nothing to say says this often that it is alive (and finds out whether the page
// is still there, and whether its session still is).
inline constexpr std::chrono::milliseconds kHeartbeat{15'000};

class WatcherSeats {
 public:
  explicit WatcherSeats(std::size_t perSession = kMaxWatchersPerSession,
                        std::size_t overall = kMaxWatchers,
                        std::size_t perWindowsSession = kMaxWatchersPerWindowsSession);

  // Held while a stream runs; gives its place back when destroyed.
  class Seat;
  // Null when the session, its Windows session or the service has no seat left.
  std::unique_ptr<Seat> Take(std::string_view session, std::uint32_t windowsSession);

 private:
  struct Counts {
    std::mutex lock;
    std::map<std::string, std::size_t, std::less<>> perSession;
    std::map<std::uint32_t, std::size_t> perWindowsSession;
    std::size_t overall = 0;
  };
  const std::size_t perSessionLimit_;
  const std::size_t overallLimit_;
  const std::size_t perWindowsSessionLimit_;
  const std::shared_ptr<Counts> counts_ = std::make_shared<Counts>();
};

class WatcherSeats::Seat {
 public:
  Seat(std::shared_ptr<Counts> counts, std::string session, std::uint32_t windowsSession)
      : counts_(std::move(counts)), session_(std::move(session)), windowsSession_(windowsSession) {}
  ~Seat();
  Seat(const Seat&) = delete;
  Seat& operator=(const Seat&) = delete;

 private:
  const std::shared_ptr<Counts> counts_;
  const std::string session_;
  const std::uint32_t windowsSession_;
};

class ReaderStream final : public EventFeed {
 public:
  // `alive` says whether the stream's session still exists (and keeps it from expiring).
  ReaderStream(std::shared_ptr<ReaderWatcher> watcher, std::unique_ptr<WatcherSeats::Seat> seat,
               std::function<bool()> alive, std::chrono::milliseconds heartbeat = kHeartbeat);
  bool Next(std::string& bytes, std::chrono::milliseconds limit) override;

 private:
  const std::shared_ptr<ReaderWatcher> watcher_;
  const std::unique_ptr<WatcherSeats::Seat> seat_;
  const std::function<bool()> alive_;
  const std::chrono::milliseconds heartbeat_;
  std::chrono::steady_clock::time_point lastSent_;
};

}  // namespace qardex::service
