#include "broker/worker_pool.h"

#include <utility>

namespace qardex::service {

namespace {

// Ends the workers (once the pool's lock is released: ending logs and may wait for a pipe) and
// lets go of them.
void EndAll(std::vector<std::shared_ptr<WorkerConnection>>& workers, std::string_view why) {
  for (const auto& worker : workers) worker->End(why, true, LogEvent::kNote);
  workers.clear();
}

}  // namespace

// Counts a call against its Windows session from its start to its end, so that its worker is not
// closed for idleness under it and the idle time starts when the last call ends.
class WorkerPool::CallInFlight {
 public:
  CallInFlight(WorkerPool& pool, std::uint32_t windowsSession)
      : pool_(pool), windowsSession_(windowsSession) {
    std::lock_guard<std::mutex> hold(pool_.lock_);
    WindowsSessionWorker& entry = pool_.byWindowsSession_[windowsSession_];
    ++entry.callsInFlight;
    entry.lastUse = pool_.clock_();
  }
  ~CallInFlight() {
    std::lock_guard<std::mutex> hold(pool_.lock_);
    WindowsSessionWorker& entry =
        pool_.byWindowsSession_[windowsSession_];  // kept while a call is counted
    --entry.callsInFlight;
    entry.lastUse = pool_.clock_();
  }
  CallInFlight(const CallInFlight&) = delete;
  CallInFlight& operator=(const CallInFlight&) = delete;

 private:
  WorkerPool& pool_;
  const std::uint32_t windowsSession_;
};

WorkerPool::WorkerPool(WorkerStarter& starter, ServiceLog& log, SteadyClock clock,
                       WorkerLimits limits)
    : starter_(starter), log_(log), clock_(std::move(clock)), limits_(limits) {}

WorkerPool::~WorkerPool() {
  try {
    StopAll();
  } catch (...) {  // no memory left to list the workers: their connections end them all the same
  }
}

std::uint64_t WorkerPool::OpenSession(std::uint32_t windowsSession) {
  std::lock_guard<std::mutex> hold(lock_);
  WindowsSessionWorker& entry = byWindowsSession_[windowsSession];
  ++entry.openSessions;
  entry.lastUse = clock_();
  return nextSession_++;
}

void WorkerPool::CloseSession(std::uint32_t windowsSession, std::uint64_t session,
                              std::uint64_t openedOn) noexcept {
  try {
    Connection worker;
    {
      std::lock_guard<std::mutex> hold(lock_);
      const auto it = byWindowsSession_.find(windowsSession);
      if (it == byWindowsSession_.end()) return;
      WindowsSessionWorker& entry = it->second;
      if (entry.openSessions > 0) --entry.openSessions;
      entry.lastUse = clock_();
      if (entry.worker && entry.worker->Generation() == openedOn) worker = entry.worker;
    }
    if (worker) worker->CloseSession(session);
  } catch (...) {  // the worker keeps a session it no longer needs until it ends
  }
}

WorkerPool::Connection WorkerPool::Usable(WindowsSessionWorker& entry, const Caller& caller,
                                          std::vector<Connection>& done) {
  if (!entry.worker) return nullptr;
  if (!entry.worker->Ended() && entry.userSid == caller.userSid) return entry.worker;
  done.push_back(std::move(entry.worker));
  return nullptr;
}

WorkerPool::Connection WorkerPool::Acquire(const Caller& caller) {
  constexpr std::string_view kOtherUser = "ended: its Windows session has another user now";
  std::vector<Connection> done;
  Connection worker;
  std::shared_ptr<std::timed_mutex> starting;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (stopped_) return nullptr;
    WindowsSessionWorker& entry = byWindowsSession_[caller.windowsSession];
    worker = Usable(entry, caller, done);
    starting = entry.starting;
  }
  EndAll(done, kOtherUser);
  if (worker) return worker;

  // One start at a time per Windows session; the calls behind it take the worker it started.
  std::unique_lock<std::timed_mutex> turn(*starting, std::defer_lock);
  if (!turn.try_lock_for(limits_.startWait)) return nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (stopped_) return nullptr;
    worker = Usable(byWindowsSession_[caller.windowsSession], caller, done);
  }
  EndAll(done, kOtherUser);
  if (worker) return worker;

  worker = Start(caller);
  if (!worker) return nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!stopped_) {
      WindowsSessionWorker& entry = byWindowsSession_[caller.windowsSession];
      entry.worker = worker;
      entry.userSid = caller.userSid;
      return worker;
    }
  }
  worker->End("ended: the service stops", true, LogEvent::kNote);
  return nullptr;
}

WorkerPool::Connection WorkerPool::Start(const Caller& caller) {
  const std::string where = "Windows session " + std::to_string(caller.windowsSession);
  std::string error;
  std::unique_ptr<WorkerChannel> channel;
  try {
    channel = starter_.Start(caller, error);
  } catch (...) {
    error = "unexpected failure";
  }
  if (!channel) {
    log_.Write(LogEvent::kWorkerNotStarted, "cannot start a worker in " + where + ": " + error);
    return nullptr;
  }
  std::uint64_t generation = 0;
  {
    std::lock_guard<std::mutex> hold(lock_);
    generation = nextGeneration_++;
  }
  auto worker = std::make_shared<WorkerConnection>(std::move(channel), caller.windowsSession,
                                                   generation, limits_, log_);
  if (!worker->Begin()) return nullptr;
  log_.Write("worker started in " + where + ", process " + std::to_string(worker->ProcessId()));
  return worker;
}

SessionCall WorkerPool::Call(const Caller& caller, std::uint64_t session, std::uint64_t openedOn,
                             std::string_view method, const std::vector<ipc::Value>& args,
                             const CallContext& context) {
  const CallInFlight counted(*this, caller.windowsSession);
  // A worker found ended before anything was sent to it gives way to a new one, once.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const Connection worker = Acquire(caller);
    if (!worker) break;
    WorkerConnection::Delivery delivery = worker->Call(session, openedOn, method, args, context);
    if (delivery.sent || delivery.call.outcome.status != CallStatus::WorkerEnded) {
      return std::move(delivery.call);
    }
  }
  return {{CallStatus::Unavailable, {}, 0}, openedOn};
}

bool WorkerPool::StillServes(const Caller& caller, std::uint64_t openedOn) {
  const std::lock_guard<std::mutex> hold(lock_);
  const auto it = byWindowsSession_.find(caller.windowsSession);
  if (stopped_ || it == byWindowsSession_.end()) return false;
  const WindowsSessionWorker& entry = it->second;
  return entry.worker && entry.worker->Generation() == openedOn && !entry.worker->Ended() &&
         entry.userSid == caller.userSid;
}

std::shared_ptr<ReaderWatcher> WorkerPool::WatchReaders(const Caller& caller) {
  const Connection worker = Acquire(caller);
  return worker ? worker->WatchReaders() : nullptr;
}

void WorkerPool::RetireIdle() {
  std::vector<Connection> idle;
  std::vector<Connection> ended;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const auto now = clock_();
    for (auto it = byWindowsSession_.begin(); it != byWindowsSession_.end();) {
      WindowsSessionWorker& entry = it->second;
      if (entry.worker && entry.worker->Ended()) {
        ended.push_back(std::move(entry.worker));
      } else if (entry.worker && entry.callsInFlight == 0 && entry.openSessions == 0 &&
                 now - entry.lastUse >= limits_.idle) {
        idle.push_back(std::move(entry.worker));
      }
      const bool unused = !entry.worker && entry.openSessions == 0 && entry.callsInFlight == 0;
      it = unused ? byWindowsSession_.erase(it) : std::next(it);
    }
  }
  for (const auto& worker : idle) worker->End("closed after its idle time", false, LogEvent::kNote);
}

void WorkerPool::EndWindowsSession(std::uint32_t windowsSession) {
  std::vector<Connection> done;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const auto it = byWindowsSession_.find(windowsSession);
    if (it != byWindowsSession_.end() && it->second.worker)
      done.push_back(std::move(it->second.worker));
  }
  EndAll(done, "ended: its user signed off");
}

void WorkerPool::StopAll() {
  std::vector<Connection> done;
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopped_ = true;
    for (auto& [windowsSession, entry] : byWindowsSession_) {
      if (entry.worker) done.push_back(std::move(entry.worker));
    }
  }
  EndAll(done, "ended: the service stops");
}

}  // namespace qardex::service
