#include "worker/held_calls.h"

namespace qardex::worker {

bool HeldCalls::TryHold() {
  std::lock_guard<std::mutex> counting(lock_);
  if (held_ >= most_) return false;
  ++held_;
  return true;
}

void HeldCalls::Release() {
  std::lock_guard<std::mutex> counting(lock_);
  --held_;
  if (held_ == 0) none_.notify_all();
}

void HeldCalls::WaitNone(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> counting(lock_);
  none_.wait_until(counting, deadline, [this] { return held_ == 0; });
}

}  // namespace qardex::worker
