// A socket whose readiness waits beat a pulse: waits are cut into slices that end when the next
// beat is due, and a beat is given whenever kWaitPulseIntervalMs have passed on the socket's
// clock (counted from the socket's wrapping), also while a peer keeps bytes coming and no wait
// ever times out. A dialogue that never waits that long never beats.
#pragma once

#include <cstdint>

#include "cloud/stream_socket.h"
#include "cloud/wait_pulse.h"

namespace qardex::cloud {

class PulsingSocket final : public StreamSocket {
 public:
  PulsingSocket(StreamSocket& socket, WaitPulse& pulse)
      : socket_(socket), pulse_(pulse), lastBeatMs_(socket.NowMs()) {}

  int Send(const char* data, int length) override { return socket_.Send(data, length); }
  int Recv(char* buffer, int length) override { return socket_.Recv(buffer, length); }
  int SelectReadable(int timeoutMs, bool& readable) override;
  int LastError() override { return socket_.LastError(); }
  void Pause(int milliseconds) override { socket_.Pause(milliseconds); }
  std::int64_t NowMs() override { return socket_.NowMs(); }

 private:
  // Beats when due; the milliseconds until the next beat is due.
  std::int64_t BeatIfDue();

  StreamSocket& socket_;
  WaitPulse& pulse_;
  std::int64_t lastBeatMs_;
};

}  // namespace qardex::cloud
