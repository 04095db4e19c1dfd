// Call threads (the worker's calls, the native host's requests): a job runs on an idle thread
// when there is one, else on a new one (starting a thread costs more than most calls, under Wine
// several hundred microseconds), so no call waits behind another. A thread that found no job for
// a while ends.
#pragma once

#include <functional>
#include <memory>

namespace qardex::common {

class CallThreads {
 public:
  CallThreads();
  // Idle threads end now; a thread inside a job ends after it.
  ~CallThreads();
  CallThreads(const CallThreads&) = delete;
  CallThreads& operator=(const CallThreads&) = delete;

  // Runs `job` on one of the threads; false when no thread can be had. What `job` throws is
  // dropped.
  bool Post(std::function<void()> job);

 private:
  struct Pool;
  // Shared with the threads, which outlive this object while they finish their jobs.
  const std::shared_ptr<Pool> pool_;
};

}  // namespace qardex::common
