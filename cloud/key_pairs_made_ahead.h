// One client key pair kept ready, made on a background thread at start and again after each
// use (once the calls that took key pairs are done with them and a quiet time has passed, so
// that the making does not slow a call or its answer down), so that a call need not wait for
// RSA key generation. Each key pair is handed over once and not kept; one still waiting when the
// source ends is freed, its private numbers cleansed, by libcrypto. A call that comes while a
// key pair is being made waits for that one; a call that finds none ready or being made makes
// its own.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "cloud/key_pair_source.h"

namespace qardex::cloud {

class KeyPairsMadeAhead final : public KeyPairSource {
 public:
  // Makes one key pair on the background thread; returns null soon after `stop` turns true.
  using Maker = std::function<KeyPair(const std::atomic<bool>& stop)>;
  // `onMiss` makes the key pair of a call that finds none ready; it outlives this source. A call
  // waits at most `longestMakingWait` for the key pair being made (a few milliseconds' work;
  // the bound is for a maker that hangs). The next key pair is begun `quietAfterUse` after the
  // last key pair in use was done with: the call that used it still sends its answer then, and
  // a call that follows at once makes its own rather than wait.
  KeyPairsMadeAhead(Maker maker, KeyPairSource& onMiss,
                    std::chrono::milliseconds longestMakingWait = std::chrono::seconds(2),
                    std::chrono::milliseconds quietAfterUse = std::chrono::milliseconds(20));
  // Ends the thread; a key pair it is making is abandoned.
  ~KeyPairsMadeAhead() override;
  KeyPairsMadeAhead(const KeyPairsMadeAhead&) = delete;
  KeyPairsMadeAhead& operator=(const KeyPairsMadeAhead&) = delete;

  KeyPair Take() override;
  void Done() override;

 private:
  void Run() noexcept;
  void MakeWhileWanted();

  Maker maker_;
  KeyPairSource& onMiss_;
  const std::chrono::milliseconds longestMakingWait_;
  const std::chrono::milliseconds quietAfterUse_;
  std::mutex mutex_;
  std::condition_variable changed_;
  KeyPair ready_;
  bool making_ = false;
  int inUse_ = 0;                                     // key pairs taken and not yet done with
  std::chrono::steady_clock::time_point lastDone_{};  // when inUse_ last fell to 0
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace qardex::cloud
