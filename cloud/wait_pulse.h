// Work that has to go on while the authentication session waits on the network: H_Sign holds
// the card in a transaction across those waits, and Windows ends a transaction (resetting the
// card) that sees no card call for 5 s. Every wait of the session beats the pulse after each
// kWaitPulseIntervalMs of waiting, so beats are at most two intervals apart across the session's
// steps, and the layers that wait never need to know what the beat does.
#pragma once

namespace qardex::cloud {

inline constexpr int kWaitPulseIntervalMs = 1'000;

class WaitPulse {
 public:
  virtual ~WaitPulse() = default;
  virtual void Beat() = 0;
};

// For waits that hold nothing.
WaitPulse& NoWaitPulse();

}  // namespace qardex::cloud
