// One client key pair kept ready, made on a background thread at start and again after each
// hand-over, so that a call need not wait for RSA key generation. Each key pair is handed over
// once and not kept; one still waiting when the source ends is freed, its private numbers
// cleansed, by libcrypto. A call that finds none ready makes its own.
#pragma once

#include <atomic>
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
  // `onMiss` makes the key pair of a call that finds none ready; it outlives this source.
  KeyPairsMadeAhead(Maker maker, KeyPairSource& onMiss);
  // Ends the thread; a key pair it is making is abandoned.
  ~KeyPairsMadeAhead() override;
  KeyPairsMadeAhead(const KeyPairsMadeAhead&) = delete;
  KeyPairsMadeAhead& operator=(const KeyPairsMadeAhead&) = delete;

  KeyPair Take() override;

 private:
  void Run() noexcept;
  void MakeWhileWanted();

  Maker maker_;
  KeyPairSource& onMiss_;
  std::mutex mutex_;
  std::condition_variable changed_;
  KeyPair ready_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace qardex::cloud
