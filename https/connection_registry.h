// The listener's open connections and what each is doing. When every place is taken, a newcomer
// takes the place of the connection that has been evictable the longest: idle (handshake not
// finished, or waiting between requests) for kEvictionGrace at least, or inside a request that
// has not arrived whole kStalledRequestGrace after its first byte. A request that has arrived is
// never cut off (its call runs, its answer goes out), and only when no connection is evictable is
// the newcomer turned away. The grace keeps a burst of honest newcomers from evicting each other
// in their handshakes. The same holds within one Windows session, once a connection's caller is
// known: one user's connections cannot take every place. Safe to use from every connection
// thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace qardex::service {

class ConnectionRegistry {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kEvictionGrace{500};
  // An honest client sends its request at once; one still incomplete this long after its first
  // byte is trickling or holding a place.
  static constexpr std::chrono::milliseconds kStalledRequestGrace{2000};

  // One connection's place among the open ones and what it is doing: set by its thread, read
  // (and evicted) by the registry.
  class Place {
   public:
    explicit Place(Clock::time_point now);
    // The connection waits for the next request (or its handshake) from `now` on.
    void Idle(Clock::time_point now);
    // A request began at `began` and has not arrived whole; false when the connection was
    // evicted meanwhile and must close.
    bool Receiving(Clock::time_point began);
    // A request is being read and answered; false when the connection was evicted meanwhile.
    bool Busy();
    // The connection's thread closes it at its next look.
    bool Evicted() const { return state_.load() == kEvicted; }

   private:
    friend class ConnectionRegistry;
    enum State : int { kIdle, kReceiving, kBusy, kEvicted };
    bool MoveTo(State state);
    // Since when the connection in `state` may be evicted, or nothing.
    std::optional<Clock::rep> EvictableSince(int state) const;

    std::atomic<int> state_{kIdle};
    std::atomic<Clock::rep> since_;                // when it became idle, or when its request began
    std::optional<std::uint32_t> windowsSession_;  // under the registry's lock
  };

  ConnectionRegistry(std::size_t capacity, std::size_t perWindowsSession);

  // A place for a new connection, idle from `now`; null when it must be closed.
  std::shared_ptr<Place> Admit(Clock::time_point now);
  // The connection's caller runs in `windowsSession`: beyond that session's share it takes the
  // place of one of the session's own evictable connections; false when it must close instead.
  bool Assign(Place& place, std::uint32_t windowsSession, Clock::time_point now);
  // The connection's thread is done with it.
  void Leave(const std::shared_ptr<Place>& place);
  // Waits at most `limit` until every connection has left; true when none is left.
  bool WaitUntilEmpty(Clock::duration limit);

 private:
  // Evicts the candidate evictable the longest (at `now`) among the live places `pick` selects.
  template <class Pick>
  bool EvictLongestEvictable(Clock::time_point now, Pick pick);

  const std::size_t capacity_;
  const std::size_t perWindowsSession_;
  std::mutex lock_;
  std::condition_variable left_;
  std::vector<std::shared_ptr<Place>> places_;  // evicted ones until their threads leave
};

}  // namespace qardex::service
