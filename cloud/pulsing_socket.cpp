#include "cloud/pulsing_socket.h"

#include <algorithm>

namespace qardex::cloud {

std::int64_t PulsingSocket::BeatIfDue() {
  const std::int64_t now = socket_.NowMs();
  if (now - lastBeatMs_ >= kWaitPulseIntervalMs) {
    pulse_.Beat();
    lastBeatMs_ = now;
  }
  return lastBeatMs_ + kWaitPulseIntervalMs - now;
}

int PulsingSocket::SelectReadable(int timeoutMs, bool& readable) {
  const std::int64_t deadline = socket_.NowMs() + std::max(timeoutMs, 0);
  for (;;) {
    const std::int64_t untilBeat = BeatIfDue();
    const std::int64_t left = std::max<std::int64_t>(deadline - socket_.NowMs(), 0);
    const int slice = static_cast<int>(std::min(left, untilBeat));
    const int answer = socket_.SelectReadable(slice, readable);
    // The clock decides whether the caller's whole wait is over, not the slice.
    if (answer != 0 || socket_.NowMs() >= deadline) return answer;
  }
}

}  // namespace qardex::cloud
