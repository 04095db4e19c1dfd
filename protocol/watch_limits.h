// Bounds on how many watch the readers at once: each watcher holds one of the service's
// connections (or a transport's port) for as long as it watches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace qardex::service {

// Watchers of one service session (a page rarely needs more than one) and of all sessions
// together.
inline constexpr std::size_t kMaxWatchersPerSession = 4;
inline constexpr std::size_t kMaxWatchers = 32;
// Of those, what one Windows session may hold over all its service sessions: a quarter.
inline constexpr std::size_t kMaxWatchersPerWindowsSession = 8;

class WatchLimits {
 public:
  explicit WatchLimits(std::size_t perSession = kMaxWatchersPerSession,
                       std::size_t overall = kMaxWatchers,
                       std::size_t perWindowsSession = kMaxWatchersPerWindowsSession);

  // A watcher's place, held while it watches; given back when destroyed.
  class Place;
  // Null when the session, its Windows session or the service has no place left.
  std::unique_ptr<Place> Admit(std::string_view session, std::uint32_t windowsSession);

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

class WatchLimits::Place {
 public:
  Place(std::shared_ptr<Counts> counts, std::string session, std::uint32_t windowsSession)
      : counts_(std::move(counts)), session_(std::move(session)), windowsSession_(windowsSession) {}
  ~Place();
  Place(const Place&) = delete;
  Place& operator=(const Place&) = delete;

 private:
  const std::shared_ptr<Counts> counts_;
  const std::string session_;
  const std::uint32_t windowsSession_;
};

}  // namespace qardex::service
