#include "worker/worker_loop.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "ipc/frame_pump.h"
#include "ipc/message.h"
#include "ipc/method_table.h"
#include "common/call_threads.h"
#include "worker/cancel_table.h"
#include "worker/held_calls.h"
#include "worker/reply_writer.h"

namespace qardex::worker {

namespace {

using Clock = std::chrono::steady_clock;

// How often a call waiting for its turn or the card looks whether it was given up.
constexpr std::chrono::milliseconds kCancelPoll{50};

struct SessionSlot {
  explicit SessionSlot(std::unique_ptr<EngineSession> opened) : session(std::move(opened)) {}
  std::timed_mutex turn;  // calls of one session never overlap
  const std::unique_ptr<EngineSession> session;
};

// What a call on a call thread works with, besides its session. Each call holds it by a shared
// pointer, so a call still running when the loop stops waiting for it works on live objects; the
// pipe is detached by then, and its reply is dropped.
struct CallDesk {
  CallDesk(ipc::FramePump& pipe, const LoopLimits& limits) : replies(pipe), limits(limits) {}
  ReplyWriter replies;
  HeldCalls held{kMaxCalls};
  CancelTable cancels;
  std::timed_mutex card;  // one card transaction at a time in this worker
  const LoopLimits limits;
};

// Runs the method of a call whose turn (and card) the caller holds. Never throws.
ipc::Message RunHeld(SessionSlot& slot, const ipc::MethodSignature& method, const ipc::Call& call) {
  try {
    MethodResult outcome = slot.session->Call(method, call.args);
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
Wait Take(std::unique_lock<std::timed_mutex>& lock, Clock::time_point deadline,
          CancelTable& cancels, std::uint32_t callId) {
  while (!lock.try_lock_until(std::min(deadline, Clock::now() + kCancelPoll))) {
    if (cancels.Cancelled(callId)) return Wait::Cancelled;
    if (Clock::now() >= deadline) return Wait::TimedOut;
  }
  return Wait::Held;
}

// Runs one call that fits its method: waits its turn in the session and, for card work, for the
// card, both within the card wait and while the service still wants it; then the method. Never
// throws.
ipc::Message RunCall(CallDesk& desk, SessionSlot& slot, const ipc::MethodSignature& method,
                     const ipc::Call& call) {
  const Clock::time_point deadline = Clock::now() + desk.limits.cardWait;
  std::unique_lock<std::timed_mutex> sessionTurn(slot.turn, std::defer_lock);
  std::unique_lock<std::timed_mutex> card(desk.card, std::defer_lock);
  Wait wait = Take(sessionTurn, deadline, desk.cancels, call.callId);
  if (wait == Wait::Held && method.usesCard) wait = Take(card, deadline, desk.cancels, call.callId);
  desk.cancels.Started(call.callId);
  if (wait == Wait::Cancelled) return ipc::Failed{call.callId, "cancelled"};
  if (wait == Wait::TimedOut) return ipc::Busy{call.callId};
  return RunHeld(slot, method, call);
}

class Loop {
 public:
  Loop(PipeEnd& pipe, EngineSessionFactory& factory, const LoopLimits& limits,
       ReaderEventSource* events)
      : pump_(pipe),
        factory_(factory),
        events_(events),
        desk_(std::make_shared<CallDesk>(pump_, limits)),
        replies_(desk_->replies) {}

  // However the loop ends, calls still running get the drain wait, and none of them writes to
  // the pipe afterwards; then idle call threads end.
  ~Loop() {
    watch_.reset();
    try {
      desk_->held.WaitNone(Clock::now() + desk_->limits.drainWait);
    } catch (...) {
    }
    replies_.Detach();
  }
  Loop(const Loop&) = delete;
  Loop& operator=(const Loop&) = delete;

  int Run(std::uint32_t processId) {
    return replies_.Send(ipc::Hello{processId}) ? Serve() : kWorkerExitPipeClosed;
  }

 private:
  int Serve() {
    while (!replies_.Broken()) {
      ipc::FramePump::Received next = pump_.Next(desk_->limits.readSlice);
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
      desk_->cancels.Cancel(cancel->callId);
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
          [desk = desk_](const ipc::ReaderEvent& event) { desk->replies.Send(event); });
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
      replies_.Send(ipc::Failed{callId, "unknown session"});
      return;
    }
    const ipc::MethodSignature* method = ipc::FindMethod(call.method);
    if (method == nullptr) {
      replies_.Send(ipc::Failed{callId, "unknown method"});
      return;
    }
    if (!ipc::ArgumentsFit(*method, call.args)) {
      replies_.Send(ipc::Failed{callId, "wrong arguments"});
      return;
    }
    if (method->immediate && !method->usesCard) {
      // Starting a thread costs more than the call itself; only a session busy with an earlier
      // call makes this one wait on a thread of its own.
      std::unique_lock<std::timed_mutex> turn(found->second->turn, std::try_to_lock);
      if (turn.owns_lock()) {
        replies_.Send(RunHeld(*found->second, *method, call));
        return;
      }
    }
    if (!desk_->held.TryHold()) {
      replies_.Send(ipc::Busy{callId});
      return;
    }
    bool posted = false;
    try {
      desk_->cancels.Waiting(callId);
      posted = threads_.Post([desk = desk_, slot = found->second, method, call = std::move(call)] {
        try {
          desk->replies.Send(RunCall(*desk, *slot, *method, call));
        } catch (...) {
          // Out of memory while sending: the service's own wait for the answer ends the call.
        }
        desk->held.Release();
      });
    } catch (...) {
    }
    if (!posted) {
      desk_->cancels.Started(callId);
      desk_->held.Release();
      replies_.Send(ipc::Failed{callId, "no thread for the call"});
    }
  }

  ipc::FramePump pump_;
  EngineSessionFactory& factory_;
  ReaderEventSource* const events_;
  const std::shared_ptr<CallDesk> desk_;
  ReplyWriter& replies_;  // the desk's
  // Destroyed after the destructor's drain wait and detach: idle threads end then.
  common::CallThreads threads_;
  std::unique_ptr<ReaderEventWatch> watch_;
  std::unordered_map<std::uint64_t, std::shared_ptr<SessionSlot>> sessions_;
};

}  // namespace

int RunWorkerLoop(PipeEnd& pipe, EngineSessionFactory& sessions, std::uint32_t processId,
                  const LoopLimits& limits, ReaderEventSource* events) {
  try {
    return Loop(pipe, sessions, limits, events).Run(processId);
  } catch (...) {
    return kWorkerExitFailure;
  }
}

}  // namespace qardex::worker
