#include "worker/worker_loop.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#include "ipc/frame_pump.h"
#include "ipc/message.h"
#include "ipc/method_table.h"

namespace qardex::worker {

namespace {

using Clock = std::chrono::steady_clock;

// A call thread that found no call for this long ends.
constexpr std::chrono::seconds kCallThreadIdle{60};
// How often a call waiting for its turn or the card looks whether it was given up.
constexpr std::chrono::milliseconds kCancelPoll{50};

struct SessionSlot {
  explicit SessionSlot(std::unique_ptr<MethodSession> opened) : session(std::move(opened)) {}
  std::timed_mutex turn;  // calls of one session never overlap
  const std::unique_ptr<MethodSession> session;
};

// What the call threads share with the reading thread. Each thread holds it by a shared pointer,
// so a call still running when the loop stops waiting for it works on live objects; the pipe is
// detached by then, and its reply is dropped.
class Shared : public std::enable_shared_from_this<Shared> {
 public:
  Shared(ipc::FramePump& pipe, const LoopLimits& limits) : limits(limits), pump_(&pipe) {}

  // Runs `job` on one of the worker's call threads: an idle one when there is one, else a new
  // one (starting a thread costs more than most calls). False when no thread can be had.
  bool Post(std::function<void()> job) {
    std::lock_guard<std::mutex> hold(jobLock_);
    jobs_.push_back(std::move(job));
    if (idleThreads_ >= jobs_.size()) {
      jobReady_.notify_one();
      return true;
    }
    try {
      std::thread([self = shared_from_this()] { self->ServeJobs(); }).detach();
      return true;
    } catch (...) {
      jobs_.pop_back();
      return false;
    }
  }
  // Idle call threads end now rather than after their idle time.
  void StopThreads() {
    std::lock_guard<std::mutex> hold(jobLock_);
    stopping_ = true;
    jobReady_.notify_all();
  }

  // Writes one message as a frame; false when the pipe is broken or detached.
  bool Send(const ipc::Message& message) {
    std::lock_guard<std::mutex> writing(writeLock_);
    if (pump_ == nullptr || broken_) return false;
    ipc::FramePump::Sent sent = pump_->Send({message});
    if (sent == ipc::FramePump::Sent::TooLarge) {
      // Only a result can outgrow the limits (a text beyond the payload size).
      sent = pump_->Send({ipc::Failed{CallIdOf(message), "result too large"}});
    }
    if (sent != ipc::FramePump::Sent::Ok) broken_ = true;
    return !broken_;
  }
  bool Broken() const { return broken_; }
  void Detach() {
    std::lock_guard<std::mutex> writing(writeLock_);
    pump_ = nullptr;
  }

  bool TryStartCall() {
    std::lock_guard<std::mutex> counting(countLock_);
    if (running_ >= kMaxCalls) return false;
    ++running_;
    return true;
  }
  void EndCall() {
    std::lock_guard<std::mutex> counting(countLock_);
    --running_;
    if (running_ == 0) idle_.notify_all();
  }
  void WaitIdle(Clock::time_point deadline) {
    std::unique_lock<std::mutex> counting(countLock_);
    idle_.wait_until(counting, deadline, [this] { return running_ == 0; });
  }

  // Calls posted and not yet running, and whether the service gave each up. Only these can be
  // cancelled, so a Cancel for anything else leaves nothing behind.
  void Waiting(std::uint32_t callId) {
    std::lock_guard<std::mutex> hold(countLock_);
    waiting_[callId] = false;
  }
  void Cancel(std::uint32_t callId) {
    std::lock_guard<std::mutex> hold(countLock_);
    const auto it = waiting_.find(callId);
    if (it != waiting_.end()) it->second = true;
  }
  bool Cancelled(std::uint32_t callId) {
    std::lock_guard<std::mutex> hold(countLock_);
    const auto it = waiting_.find(callId);
    return it != waiting_.end() && it->second;
  }
  void Started(std::uint32_t callId) {
    std::lock_guard<std::mutex> hold(countLock_);
    waiting_.erase(callId);
  }

  const LoopLimits limits;
  std::timed_mutex card;  // one card transaction at a time in this worker

 private:
  static std::uint32_t CallIdOf(const ipc::Message& message) {
    if (const auto* result = std::get_if<ipc::Result>(&message)) return result->callId;
    return 0;
  }

  void ServeJobs() {
    std::unique_lock<std::mutex> hold(jobLock_);
    while (true) {
      ++idleThreads_;
      jobReady_.wait_for(hold, kCallThreadIdle, [this] { return stopping_ || !jobs_.empty(); });
      --idleThreads_;
      if (jobs_.empty()) return;  // idle too long, or the loop has ended
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      hold.unlock();
      job();
      hold.lock();
    }
  }

  std::mutex jobLock_;
  std::condition_variable jobReady_;
  std::deque<std::function<void()>> jobs_;
  std::size_t idleThreads_ = 0;
  bool stopping_ = false;

  std::mutex writeLock_;
  ipc::FramePump* pump_;
  std::atomic<bool> broken_{false};
  std::mutex countLock_;
  std::condition_variable idle_;
  std::size_t running_ = 0;
  std::unordered_map<std::uint32_t, bool> waiting_;
};

// Runs the method of a call whose turn (and card) the caller holds. Never throws.
ipc::Message RunHeld(SessionSlot& slot, const ipc::MethodSignature& method, const ipc::Call& call) {
  try {
    CallOutcome outcome = slot.session->Call(method, call.args);
    if (outcome.result.kind != method.result) {
      return ipc::Failed{call.callId, "result of the wrong type"};
    }
    return ipc::Result{call.callId, std::move(outcome.result), outcome.lastError};
  } catch (...) {
    return ipc::Failed{call.callId, "the method failed"};
  }
}

enum class Wait { Held, TimedOut, Cancelled };

// Takes `lock` by the deadline unless the service gives the call up first.
Wait Take(std::unique_lock<std::timed_mutex>& lock, Clock::time_point deadline, Shared& shared,
          std::uint32_t callId) {
  while (!lock.try_lock_until(std::min(deadline, Clock::now() + kCancelPoll))) {
    if (shared.Cancelled(callId)) return Wait::Cancelled;
    if (Clock::now() >= deadline) return Wait::TimedOut;
  }
  return Wait::Held;
}

// Runs one call that fits its method: waits its turn in the session and, for card work, for the
// card, both within the card wait and while the service still wants it; then the method. Never
// throws.
ipc::Message RunCall(Shared& shared, SessionSlot& slot, const ipc::MethodSignature& method,
                     const ipc::Call& call) {
  const Clock::time_point deadline = Clock::now() + shared.limits.cardWait;
  std::unique_lock<std::timed_mutex> sessionTurn(slot.turn, std::defer_lock);
  std::unique_lock<std::timed_mutex> card(shared.card, std::defer_lock);
  Wait wait = Take(sessionTurn, deadline, shared, call.callId);
  if (wait == Wait::Held && method.usesCard) wait = Take(card, deadline, shared, call.callId);
  shared.Started(call.callId);
  if (wait == Wait::Cancelled) return ipc::Failed{call.callId, "cancelled"};
  if (wait == Wait::TimedOut) return ipc::Busy{call.callId};
  return RunHeld(slot, method, call);
}

class Loop {
 public:
  Loop(PipeEnd& pipe, SessionFactory& factory, const LoopLimits& limits, ReaderEventSource* events)
      : pump_(pipe),
        factory_(factory),
        events_(events),
        shared_(std::make_shared<Shared>(pump_, limits)) {}

  // However the loop ends, calls still running get the drain wait, and none of them writes to
  // the pipe afterwards.
  ~Loop() {
    watch_.reset();
    try {
      shared_->WaitIdle(Clock::now() + shared_->limits.drainWait);
    } catch (...) {
    }
    shared_->Detach();
    shared_->StopThreads();
  }
  Loop(const Loop&) = delete;
  Loop& operator=(const Loop&) = delete;

  int Run(std::uint32_t processId) {
    return shared_->Send(ipc::Hello{processId}) ? Serve() : kWorkerExitPipeClosed;
  }

 private:
  int Serve() {
    while (!shared_->Broken()) {
      ipc::FramePump::Received next = pump_.Next(shared_->limits.readSlice);
      switch (next.got) {
        case ipc::FramePump::Got::Nothing:
          continue;
        case ipc::FramePump::Got::Closed:
          return kWorkerExitPipeClosed;
        case ipc::FramePump::Got::Message:
          if (Handle(std::move(next.message))) continue;
          return kWorkerExitBadMessage;
        default:  // oversized or malformed
          return kWorkerExitBadMessage;
      }
    }
    return kWorkerExitPipeClosed;
  }

  // False for a message only a worker sends.
  bool Handle(ipc::Message message) {
    if (auto* open = std::get_if<ipc::OpenSession>(&message)) {
      Open(open->session);
    } else if (auto* close = std::get_if<ipc::CloseSession>(&message)) {
      sessions_.erase(close->session);  // a call still running keeps its slot until it ends
    } else if (auto* call = std::get_if<ipc::Call>(&message)) {
      Start(std::move(*call));
    } else if (auto* watch = std::get_if<ipc::Watch>(&message)) {
      SetWatch(watch->on);
    } else if (auto* cancel = std::get_if<ipc::Cancel>(&message)) {
      shared_->Cancel(cancel->callId);
    } else {
      return false;
    }
    return true;
  }

  // A watch that cannot start (no thread) leaves the service's watchers with heartbeats only,
  // until they have all left and a new one asks again.
  void SetWatch(bool on) {
    if (!on) {
      watch_.reset();
    } else if (!watch_ && events_ != nullptr) {
      watch_ = events_->Start(
          [shared = shared_](const ipc::ReaderEvent& event) { shared->Send(event); });
    }
  }

  void Open(std::uint64_t number) {
    if (sessions_.size() >= kMaxSessions && sessions_.count(number) == 0) return;
    try {
      sessions_[number] = std::make_shared<SessionSlot>(factory_.OpenSession());
    } catch (...) {
      sessions_.erase(number);  // its calls are answered as for an unknown session
    }
  }

  void Start(ipc::Call call) {
    const std::uint32_t callId = call.callId;
    const auto found = sessions_.find(call.session);
    if (found == sessions_.end() || !found->second->session) {
      shared_->Send(ipc::Failed{callId, "unknown session"});
      return;
    }
    const ipc::MethodSignature* method = ipc::FindMethod(call.method);
    if (method == nullptr) {
      shared_->Send(ipc::Failed{callId, "unknown method"});
      return;
    }
    if (!ipc::ArgumentsFit(*method, call.args)) {
      shared_->Send(ipc::Failed{callId, "wrong arguments"});
      return;
    }
    if (method->immediate && !method->usesCard) {
      // Starting a thread costs more than the call itself; only a session busy with an earlier
      // call makes this one wait on a thread of its own.
      std::unique_lock<std::timed_mutex> turn(found->second->turn, std::try_to_lock);
      if (turn.owns_lock()) {
        shared_->Send(RunHeld(*found->second, *method, call));
        return;
      }
    }
    if (!shared_->TryStartCall()) {
      shared_->Send(ipc::Busy{callId});
      return;
    }
    bool posted = false;
    try {
      shared_->Waiting(callId);
      posted =
          shared_->Post([shared = shared_, slot = found->second, method, call = std::move(call)] {
            try {
              shared->Send(RunCall(*shared, *slot, *method, call));
            } catch (...) {
              // Out of memory while sending: the service's own wait for the answer ends the call.
            }
            shared->EndCall();
          });
    } catch (...) {
    }
    if (!posted) {
      shared_->Started(callId);
      shared_->EndCall();
      shared_->Send(ipc::Failed{callId, "no thread for the call"});
    }
  }

  ipc::FramePump pump_;
  SessionFactory& factory_;
  ReaderEventSource* const events_;
  const std::shared_ptr<Shared> shared_;
  std::unique_ptr<ReaderEventWatch> watch_;
  std::unordered_map<std::uint64_t, std::shared_ptr<SessionSlot>> sessions_;
};

}  // namespace

int RunWorkerLoop(PipeEnd& pipe, SessionFactory& sessions, std::uint32_t processId,
                  const LoopLimits& limits, ReaderEventSource* events) {
  try {
    return Loop(pipe, sessions, limits, events).Run(processId);
  } catch (...) {
    return kWorkerExitFailure;
  }
}

}  // namespace qardex::worker
