#include "cloud/key_pairs_made_ahead.h"

#include <chrono>
#include <system_error>

namespace qardex::cloud {

namespace {
// A waiting thread looks at its state at least this often, whatever it was told.
constexpr std::chrono::milliseconds kLongestWait{1000};
// How long the thread waits before it tries again after the maker failed.
constexpr std::chrono::milliseconds kRetryPause{1000};
}  // namespace

KeyPairsMadeAhead::KeyPairsMadeAhead(Maker maker, KeyPairSource& onMiss)
    : maker_(std::move(maker)), onMiss_(onMiss) {
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    // No thread: every call makes its own key pair.
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
    const std::lock_guard<std::mutex> lock(mutex_);
    if (ready_) {
      KeyPair pair = std::move(ready_);
      changed_.notify_all();
      return pair;
    }
  }
  return onMiss_.Take();
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
    if (ready_) {
      changed_.wait_for(lock, kLongestWait, [this] { return stopping_ || !ready_; });
      continue;
    }
    lock.unlock();
    KeyPair made = maker_(stopping_);
    lock.lock();
    if (made) {
      ready_ = std::move(made);
    } else {
      changed_.wait_for(lock, kRetryPause, [this] { return stopping_.load(); });
    }
  }
}

}  // namespace qardex::cloud
