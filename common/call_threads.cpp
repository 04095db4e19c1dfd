#include "common/call_threads.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace qardex::common {

namespace {

// A call thread that found no call for this long ends.
constexpr std::chrono::seconds kCallThreadIdle{60};

}  // namespace

struct CallThreads::Pool {
  std::mutex lock;
  std::condition_variable jobReady;
  std::deque<std::function<void()>> jobs;
  std::size_t idleThreads = 0;
  bool stopping = false;

  void Serve() {
    std::unique_lock<std::mutex> hold(lock);
    while (true) {
      ++idleThreads;
      jobReady.wait_for(hold, kCallThreadIdle, [this] { return stopping || !jobs.empty(); });
      --idleThreads;
      if (jobs.empty()) return;  // idle too long, or the pool has ended
      std::function<void()> job = std::move(jobs.front());
      jobs.pop_front();
      hold.unlock();
      try {
        job();
      } catch (...) {
      }
      job = nullptr;  // what the job holds goes before the thread waits again
      hold.lock();
    }
  }
};

CallThreads::CallThreads() : pool_(std::make_shared<Pool>()) {}

CallThreads::~CallThreads() {
  std::lock_guard<std::mutex> hold(pool_->lock);
  pool_->stopping = true;
  pool_->jobReady.notify_all();
}

bool CallThreads::Post(std::function<void()> job) {
  std::lock_guard<std::mutex> hold(pool_->lock);
  pool_->jobs.push_back(std::move(job));
  if (pool_->idleThreads >= pool_->jobs.size()) {
    pool_->jobReady.notify_one();
    return true;
  }
  try {
    std::thread([pool = pool_] { pool->Serve(); }).detach();
    return true;
  } catch (...) {
    pool_->jobs.pop_back();
    return false;
  }
}

}  // namespace qardex::common
