// The calls posted and not yet running, and whether the service gave each up. Only these can be
// cancelled, so a Cancel for anything else leaves nothing behind.
#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace qardex::worker {

class CancelTable {
 public:
  // The call waits for its turn from now on.
  void Waiting(std::uint32_t callId);
  // The service gave the call up: no effect unless it is waiting.
  void Cancel(std::uint32_t callId);
  bool Cancelled(std::uint32_t callId);
  // The call runs, or is answered without running: a Cancel no longer touches it.
  void Started(std::uint32_t callId);

 private:
  std::mutex lock_;
  std::unordered_map<std::uint32_t, bool> waiting_;  // call id -> given up
};

}  // namespace qardex::worker
