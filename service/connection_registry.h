// The listener's open connections and what each is doing. When every place is taken, a newcomer
// takes the place of the connection that has been idle the longest (handshake not finished, or
// waiting between requests), if it has been idle for kEvictionGrace at least; a connection inside
// a request or a call is never evicted, and only when none is idle is the newcomer turned away.
// The grace keeps a burst of honest newcomers from evicting each other in their handshakes.
// Safe to use from every connection thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace qardex::service {

class ConnectionRegistry {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kEvictionGrace{500};

  // One connection's state, set by its thread and read by the registry.
  class Slot {
   public:
    explicit Slot(Clock::time_point now);
    // The connection waits for the next request (or its handshake) from `now` on.
    void Idle(Clock::time_point now);
    // A request begins; false when the connection was evicted meanwhile and must close.
    bool Busy();
    // The connection's thread closes it at its next look.
    bool Evicted() const { return state_.load() == kEvicted; }

   private:
    friend class ConnectionRegistry;
    enum State : int { kIdle, kBusy, kEvicted };
    std::atomic<int> state_{kIdle};
    std::atomic<Clock::rep> idleSince_;
  };

  explicit ConnectionRegistry(std::size_t capacity);

  // A place for a new connection, idle from `now`; null when it must be closed.
  std::shared_ptr<Slot> Admit(Clock::time_point now);
  // The connection's thread is done with it.
  void Leave(const std::shared_ptr<Slot>& slot);
  // Waits at most `limit` until every connection has left; true when none is left.
  bool WaitUntilEmpty(Clock::duration limit);

 private:
  bool EvictLongestIdle(Clock::time_point now);

  const std::size_t capacity_;
  std::mutex lock_;
  std::condition_variable left_;
  std::vector<std::shared_ptr<Slot>> slots_;  // evicted ones until their threads leave
};

}  // namespace qardex::service
