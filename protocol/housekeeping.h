// The service's chores on a thread of its own: about once a period, and at once when the user of
// a Windows session signed off (the service manager tells; the notice must not wait for a
// worker to end).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qardex::service {

class Housekeeping {
 public:
  // `tick` gets the Windows sessions signed off since its last run (mostly none). It must not
  // throw; whatever it throws is dropped.
  using Tick = std::function<void(const std::vector<std::uint32_t>& signedOff)>;

  Housekeeping(Tick tick, std::chrono::milliseconds period);
  // Stops the thread after its current tick.
  ~Housekeeping();
  Housekeeping(const Housekeeping&) = delete;
  Housekeeping& operator=(const Housekeeping&) = delete;

  // Returns at once; the next tick runs now.
  void SignedOff(std::uint32_t windowsSession);

 private:
  void Run() noexcept;

  const Tick tick_;
  const std::chrono::milliseconds period_;
  std::mutex lock_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::vector<std::uint32_t> signedOff_;
  std::thread thread_;  // last: starts once the rest is made
};

}  // namespace qardex::service
