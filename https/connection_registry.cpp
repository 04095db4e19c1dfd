#include "https/connection_registry.h"

#include <algorithm>
#include <utility>

namespace qardex::service {

ConnectionRegistry::Place::Place(Clock::time_point now) : since_(now.time_since_epoch().count()) {}

void ConnectionRegistry::Place::Idle(Clock::time_point now) {
  since_.store(now.time_since_epoch().count());
  MoveTo(kIdle);
}

bool ConnectionRegistry::Place::Receiving(Clock::time_point began) {
  since_.store(began.time_since_epoch().count());
  return MoveTo(kReceiving);
}

bool ConnectionRegistry::Place::Busy() { return MoveTo(kBusy); }

// Only the connection's own thread moves between the live states; the registry only evicts.
bool ConnectionRegistry::Place::MoveTo(State state) {
  int current = state_.load();
  while (current != kEvicted) {
    if (state_.compare_exchange_weak(current, state)) return true;
  }
  return false;
}

std::optional<ConnectionRegistry::Clock::rep> ConnectionRegistry::Place::EvictableSince(
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
    Place* place;
  };
  std::vector<Candidate> candidates;
  for (const auto& place : places_) {
    const int state = place->state_.load();
    const std::optional<Clock::rep> since = place->EvictableSince(state);
    if (since && *since <= at && pick(*place)) candidates.push_back({*since, state, place.get()});
  }
  std::sort(candidates.begin(), candidates.end(),
            [](const Candidate& a, const Candidate& b) { return a.since < b.since; });
  for (Candidate& candidate : candidates) {
    // Fails when the connection moved on just now (a request began or arrived): it stays.
    if (candidate.place->state_.compare_exchange_strong(candidate.state, Place::kEvicted)) {
      return true;
    }
  }
  return false;
}

std::shared_ptr<ConnectionRegistry::Place> ConnectionRegistry::Admit(Clock::time_point now) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto live = static_cast<std::size_t>(std::count_if(
      places_.begin(), places_.end(), [](const auto& place) { return !place->Evicted(); }));
  // Evicted connections close within their thread's next look; until then they hold a place of
  // a second set, so a flood of newcomers cannot grow the threads without bound.
  if (places_.size() >= 2 * capacity_) return nullptr;
  if (live >= capacity_ && !EvictLongestEvictable(now, [](const Place&) { return true; })) {
    return nullptr;
  }
  places_.push_back(std::make_shared<Place>(now));
  return places_.back();
}

bool ConnectionRegistry::Assign(Place& place, std::uint32_t windowsSession, Clock::time_point now) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto sameSession = [&](const Place& other) {
    return &other != &place && other.windowsSession_ == windowsSession;
  };
  const auto held = static_cast<std::size_t>(
      std::count_if(places_.begin(), places_.end(),
                    [&](const auto& other) { return !other->Evicted() && sameSession(*other); }));
  if (held >= perWindowsSession_ && !EvictLongestEvictable(now, sameSession)) return false;
  place.windowsSession_ = windowsSession;
  return true;
}

void ConnectionRegistry::Leave(const std::shared_ptr<Place>& place) {
  std::lock_guard<std::mutex> hold(lock_);
  places_.erase(std::remove(places_.begin(), places_.end(), place), places_.end());
  left_.notify_all();
}

bool ConnectionRegistry::WaitUntilEmpty(Clock::duration limit) {
  std::unique_lock<std::mutex> hold(lock_);
  return left_.wait_for(hold, limit, [this] { return places_.empty(); });
}

}  // namespace qardex::service
