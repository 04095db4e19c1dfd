#include "https/connection_registry.h"

#include <algorithm>
#include <utility>

namespace qardex::service {

ConnectionRegistry::Slot::Slot(Clock::time_point now) : since_(now.time_since_epoch().count()) {}

void ConnectionRegistry::Slot::Idle(Clock::time_point now) {
  since_.store(now.time_since_epoch().count());
  MoveTo(kIdle);
}

bool ConnectionRegistry::Slot::Receiving(Clock::time_point began) {
  since_.store(began.time_since_epoch().count());
  return MoveTo(kReceiving);
}

bool ConnectionRegistry::Slot::Busy() { return MoveTo(kBusy); }

// Only the connection's own thread moves between the live states; the registry only evicts.
bool ConnectionRegistry::Slot::MoveTo(State state) {
  int current = state_.load();
  while (current != kEvicted) {
    if (state_.compare_exchange_weak(current, state)) return true;
  }
  return false;
}

std::optional<ConnectionRegistry::Clock::rep> ConnectionRegistry::Slot::EvictableSince(
    int state) const {
  if (state != kIdle && state != kReceiving) return std::nullopt;
  const Clock::duration grace =
      state == kIdle ? Clock::duration(kEvictionGrace) : Clock::duration(kStalledRequestGrace);
  return since_.load() + grace.count();
}

ConnectionRegistry::ConnectionRegistry(std::size_t capacity, std::size_t perWindowsSession)
    : capacity_(capacity), perWindowsSession_(perWindowsSession) {}

template <class Pick>
bool ConnectionRegistry::EvictLongestEvictable(Clock::time_point now, Pick pick) {
  const Clock::rep at = now.time_since_epoch().count();
  struct Candidate {
    Clock::rep since;
    int state;
    Slot* slot;
  };
  std::vector<Candidate> candidates;
  for (const auto& slot : slots_) {
    const int state = slot->state_.load();
    const std::optional<Clock::rep> since = slot->EvictableSince(state);
    if (since && *since <= at && pick(*slot)) candidates.push_back({*since, state, slot.get()});
  }
  std::sort(candidates.begin(), candidates.end(),
            [](const Candidate& a, const Candidate& b) { return a.since < b.since; });
  for (Candidate& candidate : candidates) {
    // Fails when the connection moved on just now (a request began or arrived): it stays.
    if (candidate.slot->state_.compare_exchange_strong(candidate.state, Slot::kEvicted)) {
      return true;
    }
  }
  return false;
}

std::shared_ptr<ConnectionRegistry::Slot> ConnectionRegistry::Admit(Clock::time_point now) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto live = static_cast<std::size_t>(std::count_if(
      slots_.begin(), slots_.end(), [](const auto& slot) { return !slot->Evicted(); }));
  // Evicted connections close within their thread's next look; until then they hold a place of
  // a second set, so a flood of newcomers cannot grow the threads without bound.
  if (slots_.size() >= 2 * capacity_) return nullptr;
  if (live >= capacity_ && !EvictLongestEvictable(now, [](const Slot&) { return true; })) {
    return nullptr;
  }
  slots_.push_back(std::make_shared<Slot>(now));
  return slots_.back();
}

bool ConnectionRegistry::Assign(Slot& slot, std::uint32_t windowsSession, Clock::time_point now) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto sameSession = [&](const Slot& other) {
    return &other != &slot && other.windowsSession_ == windowsSession;
  };
  const auto held =
      static_cast<std::size_t>(std::count_if(slots_.begin(), slots_.end(), [&](const auto& other) {
        return !other->Evicted() && sameSession(*other);
      }));
  if (held >= perWindowsSession_ && !EvictLongestEvictable(now, sameSession)) return false;
  slot.windowsSession_ = windowsSession;
  return true;
}

void ConnectionRegistry::Leave(const std::shared_ptr<Slot>& slot) {
  std::lock_guard<std::mutex> hold(lock_);
  slots_.erase(std::remove(slots_.begin(), slots_.end(), slot), slots_.end());
  left_.notify_all();
}

bool ConnectionRegistry::WaitUntilEmpty(Clock::duration limit) {
  std::unique_lock<std::mutex> hold(lock_);
  return left_.wait_for(hold, limit, [this] { return slots_.empty(); });
}

}  // namespace qardex::service
