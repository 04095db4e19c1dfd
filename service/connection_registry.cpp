#include "service/connection_registry.h"

#include <algorithm>

namespace qardex::service {

ConnectionRegistry::Slot::Slot(Clock::time_point now)
    : idleSince_(now.time_since_epoch().count()) {}

void ConnectionRegistry::Slot::Idle(Clock::time_point now) {
  idleSince_.store(now.time_since_epoch().count());
  int busy = kBusy;
  state_.compare_exchange_strong(busy, kIdle);  // an evicted connection stays evicted
}

bool ConnectionRegistry::Slot::Busy() {
  int idle = kIdle;
  return state_.compare_exchange_strong(idle, kBusy) || idle == kBusy;
}

ConnectionRegistry::ConnectionRegistry(std::size_t capacity) : capacity_(capacity) {}

std::shared_ptr<ConnectionRegistry::Slot> ConnectionRegistry::Admit(Clock::time_point now) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto live = static_cast<std::size_t>(std::count_if(
      slots_.begin(), slots_.end(), [](const auto& slot) { return !slot->Evicted(); }));
  // Evicted connections close within their thread's next look; until then they hold a place of
  // a second set, so a flood of newcomers cannot grow the threads without bound.
  if (slots_.size() >= 2 * capacity_) return nullptr;
  if (live >= capacity_ && !EvictLongestIdle(now)) return nullptr;
  slots_.push_back(std::make_shared<Slot>(now));
  return slots_.back();
}

bool ConnectionRegistry::EvictLongestIdle(Clock::time_point now) {
  const Clock::rep idleEnough = (now - kEvictionGrace).time_since_epoch().count();
  std::vector<Slot*> idle;
  for (const auto& slot : slots_) {
    if (slot->state_.load() == Slot::kIdle && slot->idleSince_.load() <= idleEnough) {
      idle.push_back(slot.get());
    }
  }
  std::sort(idle.begin(), idle.end(), [](const Slot* a, const Slot* b) {
    return a->idleSince_.load() < b->idleSince_.load();
  });
  for (Slot* slot : idle) {
    int expected = Slot::kIdle;
    // Fails when the connection began a request just now: it is no longer idle.
    if (slot->state_.compare_exchange_strong(expected, Slot::kEvicted)) return true;
  }
  return false;
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
