// How many calls the worker holds, running or waiting for their turn: at most a limit, and the
// loop's end waits (within a bound) for none to be held.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace qardex::worker {

class HeldCalls {
 public:
  explicit HeldCalls(std::size_t most) : most_(most) {}
  HeldCalls(const HeldCalls&) = delete;
  HeldCalls& operator=(const HeldCalls&) = delete;

  // False, holding nothing, when the limit is reached.
  bool TryHold();
  void Release();
  // Returns once no call is held, or at `deadline`.
  void WaitNone(std::chrono::steady_clock::time_point deadline);

 private:
  const std::size_t most_;
  std::mutex lock_;
  std::condition_variable none_;
  std::size_t held_ = 0;
};

}  // namespace qardex::worker
