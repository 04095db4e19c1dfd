#include "broker/worker_pool.h"

#include <utility>

namespace qardex::service {

namespace {

// Ends the workers (once the pool's lock is released: ending logs and may wait for a pipe) and
// lets go of them.
void EndAll(std::vector<std::shared_ptr<WorkerConnection>>& workers, std::string_view why) {
  for (const auto& worker : workers) worker->End(why, true);
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
    Seat& seat = pool_.seats_[windowsSession_];
    ++seat.callsInFlight;
    seat.lastUse = pool_.clock_();
  }
  ~CallInFlight() {
    std::lock_guard<std::mutex> hold(pool_.lock_);
    Seat& seat = pool_.seats_[windowsSession_];  // kept while a call is counted
    --seat.callsInFlight;
    seat.lastUse = pool_.clock_();
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
  Seat& seat = seats_[windowsSession];
  ++seat.openSessions;
  seat.lastUse = clock_();
  return nextSession_++;
}

void WorkerPool::CloseSession(std::uint32_t windowsSession, std::uint64_t session,
                              std::uint64_t openedOn) noexcept {
  try {
    Connection worker;
    {
      std::lock_guard<std::mutex> hold(lock_);
      const auto it = seats_.find(windowsSession);
      if (it == seats_.end()) return;
      Seat& seat = it->second;
      if (seat.openSessions > 0) --seat.openSessions;
      seat.lastUse = clock_();
      if (seat.worker && seat.worker->Generation() == openedOn) worker = seat.worker;
    }
    if (worker) worker->CloseSession(session);
  } catch (...) {  // the worker keeps a session it no longer needs until it ends
  }
}

WorkerPool::Connection WorkerPool::Usable(Seat& seat, const Caller& caller,
                                          std::vector<Connection>& done) {
  if (!seat.worker) return nullptr;
  if (!seat.worker->Ended() && seat.userSid == caller.userSid) return seat.worker;
  done.push_back(std::move(seat.worker));
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
    Seat& seat = seats_[caller.windowsSession];
    worker = Usable(seat, caller, done);
    starting = seat.starting;
  }
  EndAll(done, kOtherUser);
  if (worker) return worker;

  // One start at a time per Windows session; the calls behind it take the worker it started.
  std::unique_lock<std::timed_mutex> turn(*starting, std::defer_lock);
  if (!turn.try_lock_for(limits_.startWait)) return nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (stopped_) return nullptr;
    worker = Usable(seats_[caller.windowsSession], caller, done);
  }
  EndAll(done, kOtherUser);
  if (worker) return worker;

  worker = Start(caller);
  if (!worker) return nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!stopped_) {
      Seat& seat = seats_[caller.windowsSession];
      seat.worker = worker;
      seat.userSid = caller.userSid;
      return worker;
    }
  }
  worker->End("ended: the service stops", true);
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
    log_.Write("cannot start a worker in " + where + ": " + error);
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

CallOutcome WorkerPool::Call(const Caller& caller, std::uint64_t session, std::uint64_t& openedOn,
                             std::string_view method, const std::vector<ipc::Value>& args,
                             const Abandoned& abandoned) {
  const CallInFlight counted(*this, caller.windowsSession);
  // A worker found ended before anything was sent to it gives way to a new one, once.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const Connection worker = Acquire(caller);
    if (!worker) break;
    bool sent = false;
    CallOutcome outcome = worker->Call(session, openedOn, method, args, sent, abandoned);
    if (sent || outcome.status != CallStatus::WorkerEnded) return outcome;
  }
  return {CallStatus::Unavailable, {}, 0};
}

bool WorkerPool::StillServes(const Caller& caller, std::uint64_t openedOn) {
  const std::lock_guard<std::mutex> hold(lock_);
  const auto it = seats_.find(caller.windowsSession);
  if (stopped_ || it == seats_.end()) return false;
  const Seat& seat = it->second;
  return seat.worker && seat.worker->Generation() == openedOn && !seat.worker->Ended() &&
         seat.userSid == caller.userSid;
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
    for (auto it = seats_.begin(); it != seats_.end();) {
      Seat& seat = it->second;
      if (seat.worker && seat.worker->Ended()) {
        ended.push_back(std::move(seat.worker));
      } else if (seat.worker && seat.callsInFlight == 0 && seat.openSessions == 0 &&
                 now - seat.lastUse >= limits_.idle) {
        idle.push_back(std::move(seat.worker));
      }
      const bool unused = !seat.worker && seat.openSessions == 0 && seat.callsInFlight == 0;
      it = unused ? seats_.erase(it) : std::next(it);
    }
  }
  for (const auto& worker : idle) worker->End("closed after its idle time", false);
}

void WorkerPool::EndWindowsSession(std::uint32_t windowsSession) {
  std::vector<Connection> done;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const auto it = seats_.find(windowsSession);
    if (it != seats_.end() && it->second.worker) done.push_back(std::move(it->second.worker));
  }
  EndAll(done, "ended: its user signed off");
}

void WorkerPool::StopAll() {
  std::vector<Connection> done;
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopped_ = true;
    for (auto& [windowsSession, seat] : seats_) {
      if (seat.worker) done.push_back(std::move(seat.worker));
    }
  }
  EndAll(done, "ended: the service stops");
}

}  // namespace qardex::service
