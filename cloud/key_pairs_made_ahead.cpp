#include "cloud/key_pairs_made_ahead.h"

#include <algorithm>
#include <chrono>
#include <system_error>

namespace qardex::cloud {

namespace {
// A waiting thread looks at its state at least this often, whatever it was told.
constexpr std::chrono::milliseconds kLongestWait{1000};
// How long the thread waits before it tries again after the maker failed.
constexpr std::chrono::milliseconds kRetryPause{1000};
}  // namespace

KeyPairsMadeAhead::KeyPairsMadeAhead(Maker maker, KeyPairSource& onMiss,
                                     std::chrono::milliseconds longestMakingWait,
                                     std::chrono::milliseconds quietAfterUse)
    : maker_(std::move(maker)),
      onMiss_(onMiss),
      longestMakingWait_(longestMakingWait),
      quietAfterUse_(quietAfterUse) {
  making_ = true;  // the first key pair, from the start: a call that comes now waits for it
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    making_ = false;  // no thread: every call makes its own key pair
  }
}

KeyPairsMadeAhead::~KeyPairsMadeAhead() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

KeyPair KeyPairsMadeAhead::Take() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    // The key pair being made is ready sooner than one this call would begin now.
    const auto until = std::chrono::steady_clock::now() + longestMakingWait_;
    changed_.wait_until(lock, until, [this] { return stopping_ || ready_ || !making_; });
    ++inUse_;
    if (ready_) {
      KeyPair pair = std::move(ready_);
      changed_.notify_all();
      return pair;
    }
  }
  return onMiss_.Take();
}

void KeyPairsMadeAhead::Done() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (inUse_ > 0 && --inUse_ == 0) lastDone_ = std::chrono::steady_clock::now();
  }
  changed_.notify_all();
}

void KeyPairsMadeAhead::Run() noexcept {
  try {
    MakeWhileWanted();
  } catch (...) {
    // The thread ends here; calls make their own key pairs from now on.
  }
}

void KeyPairsMadeAhead::MakeWhileWanted() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (ready_ || inUse_ > 0) {
      changed_.wait_for(lock, kLongestWait,
                        [this] { return stopping_ || (!ready_ && inUse_ == 0); });
      continue;
    }
    const auto quietFrom = lastDone_ + quietAfterUse_;
    if (std::chrono::steady_clock::now() < quietFrom) {
      changed_.wait_until(lock,
                          std::min(quietFrom, std::chrono::steady_clock::now() + kLongestWait),
                          [this] { return stopping_ || inUse_ > 0; });
      continue;
    }
    making_ = true;
    lock.unlock();
    KeyPair made;
    try {
      made = maker_(stopping_);
    } catch (...) {
      lock.lock();
      making_ = false;
      changed_.notify_all();
      throw;
    }
    lock.lock();
    making_ = false;
    const bool failed = !made;
    ready_ = std::move(made);
    changed_.notify_all();
    if (failed) changed_.wait_for(lock, kRetryPause, [this] { return stopping_.load(); });
  }
}

}  // namespace qardex::cloud
