// What a running call knows of the one who asked for it: whether they have gone. A call that
// still waits for its turn or for the card is then given up, so that it never takes the card
// from the next caller. Each transport tells in its own way (a closed connection, a closed port);
// the waits ask here, at one pace.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <utility>

namespace qardex::service {

// True once the one who asked has gone; the transport supplies it.
using Abandoned = std::function<bool()>;

// How often a waiting call asks whether its caller has gone.
inline constexpr std::chrono::milliseconds kCancelPoll{250};

class CallContext {
 public:
  // A call nobody can abandon.
  CallContext() = default;
  explicit CallContext(Abandoned abandoned) : abandoned_(std::move(abandoned)) {}

  bool Cancelled() const { return abandoned_ && abandoned_(); }

  enum class Waited { Ready, TimedOut, Cancelled };
  // Waits in slices of at most kCancelPoll: `ready(sliceEnd)` waits until its readiness or
  // `sliceEnd` and tells which; between slices the caller is asked whether they have gone.
  template <class Ready>
  Waited WaitFor(std::chrono::steady_clock::time_point deadline, Ready&& ready) const {
    while (true) {
      const auto now = std::chrono::steady_clock::now();
      if (ready(std::min(deadline, now + kCancelPoll))) return Waited::Ready;
      if (std::chrono::steady_clock::now() >= deadline) return Waited::TimedOut;
      if (Cancelled()) return Waited::Cancelled;
    }
  }

 private:
  Abandoned abandoned_;
};

}  // namespace qardex::service
