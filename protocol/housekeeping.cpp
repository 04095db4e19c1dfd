#include "protocol/housekeeping.h"

#include <algorithm>

namespace qardex::service {

namespace {

// More sign-offs than sessions a machine holds are not kept until the next tick.
constexpr std::size_t kMostPendingSignOffs = 256;

}  // namespace

Housekeeping::Housekeeping(Tick tick, std::chrono::milliseconds period)
    : tick_(std::move(tick)), period_(period), thread_([this] { Run(); }) {}

Housekeeping::~Housekeeping() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void Housekeeping::SignedOff(std::uint32_t windowsSession) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (signedOff_.size() < kMostPendingSignOffs &&
        std::find(signedOff_.begin(), signedOff_.end(), windowsSession) == signedOff_.end()) {
      signedOff_.push_back(windowsSession);
    }
  }
  wake_.notify_all();
}

void Housekeeping::Run() noexcept {
  std::unique_lock<std::mutex> hold(lock_);
  while (!stopping_) {
    wake_.wait_for(hold, period_, [this] { return stopping_ || !signedOff_.empty(); });
    if (stopping_) break;
    std::vector<std::uint32_t> signedOff;
    signedOff.swap(signedOff_);
    hold.unlock();
    try {
      tick_(signedOff);
    } catch (...) {
      // A failed chore is dropped; the periodic ones run again at the next tick.
    }
    hold.lock();
  }
}

}  // namespace qardex::service
