#include "broker/worker_connection.h"

#include <algorithm>
#include <utility>
#include <variant>

namespace qardex::service {

WorkerConnection::WorkerConnection(std::unique_ptr<WorkerChannel> channel,
                                   std::uint32_t windowsSession, std::uint64_t generation,
                                   const WorkerLimits& limits, ServiceLog& log)
    : channel_(std::move(channel)),
      pump_(*channel_),
      windowsSession_(windowsSession),
      generation_(generation),
      processId_(channel_->ProcessId()),
      limits_(limits),
      log_(log),
      hub_(std::make_shared<ReaderHub>([this](bool on) {
        return !Ended() && Send({ipc::Watch{on}}) == ipc::FramePump::Sent::Ok;
      })) {}

WorkerConnection::~WorkerConnection() {
  hub_->Detach();
  stopping_ = true;
  if (reader_.joinable()) reader_.join();
}

bool WorkerConnection::Begin() {
  try {
    reader_ = std::thread([this] { ReadLoop(); });
  } catch (...) {
    End("ended: no thread to read its pipe", true);
    return false;
  }
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait_until(hold, std::chrono::steady_clock::now() + limits_.hello,
                      [this] { return greeted_ || ended_; });
  if (greeted_ && !ended_) return true;
  hold.unlock();
  End("ended: no Hello in time", true);
  return false;
}

bool WorkerConnection::Ended() const { return ending_; }

// The process is ended and the line written before waiting calls learn of it, so that a call
// that failed with WorkerEnded finds its worker gone and its end logged.
void WorkerConnection::End(std::string_view why, bool terminate, LogEvent kind) {
  if (ending_.exchange(true)) return;
  if (terminate) channel_->Terminate();
  try {
    log_.Write(kind, "worker of Windows session " + std::to_string(windowsSession_) + " (process " +
                         std::to_string(processId_) + ") " + std::string(why));
  } catch (...) {  // no memory for the line: the worker ends all the same
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    ended_ = true;
  }
  changed_.notify_all();
  hub_->Close();
}

ipc::FramePump::Sent WorkerConnection::Send(std::initializer_list<ipc::Message> messages) {
  const ipc::FramePump::Sent sent = pump_.Send(messages);
  if (sent == ipc::FramePump::Sent::Broken) End("ended: its pipe broke", true);
  return sent;
}

WorkerConnection::Delivery WorkerConnection::Call(std::uint64_t session, std::uint64_t openedOn,
                                                  std::string_view method,
                                                  const std::vector<ipc::Value>& args,
                                                  const CallContext& context) {
  const auto unsent = [&](CallStatus status) {
    return Delivery{{{status, {}, 0}, openedOn}, false};
  };
  std::uint32_t callId = 0;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (ending_) return unsent(CallStatus::WorkerEnded);
    do {
      callId = nextCallId_++;
    } while (callId == 0 || pending_.count(callId) != 0);
    pending_.emplace(callId, Pending{});
  }
  const auto forget = [&] {
    std::lock_guard<std::mutex> hold(lock_);
    pending_.erase(callId);
  };

  ipc::Message call = ipc::Call{callId, session, std::string(method), args};
  const ipc::FramePump::Sent written = openedOn != generation_
                                           ? Send({ipc::OpenSession{session}, std::move(call)})
                                           : Send({std::move(call)});
  // Beyond the pipe's limits nothing was sent; a broken pipe ended the worker.
  if (written == ipc::FramePump::Sent::TooLarge) {
    forget();
    return unsent(CallStatus::Failed);
  }
  if (written != ipc::FramePump::Sent::Ok) {
    forget();
    return {{{CallStatus::WorkerEnded, {}, 0}, openedOn}, true};
  }

  const auto done = [&](std::chrono::steady_clock::time_point until) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_until(hold, until, [&] { return ended_ || pending_.at(callId).answered; });
  };
  const auto deadline = std::chrono::steady_clock::now() + limits_.call;
  if (context.WaitFor(deadline, done) == CallContext::Waited::Cancelled) {
    Send({ipc::Cancel{callId}});
    done(deadline);
  }
  const auto delivered = [&](CallOutcome outcome) {
    return Delivery{{std::move(outcome), generation_}, true};
  };
  std::unique_lock<std::mutex> hold(lock_);
  Pending reply = std::move(pending_.at(callId));
  pending_.erase(callId);
  if (reply.answered) return delivered(std::move(reply.outcome));
  if (ended_) return delivered({CallStatus::WorkerEnded, {}, 0});
  hold.unlock();
  End("ended: no reply within the call limit", true);
  return delivered({CallStatus::WorkerEnded, {}, 0});
}

void WorkerConnection::CloseSession(std::uint64_t session) {
  if (!Ended()) Send({ipc::CloseSession{session}});
}

const char* WorkerConnection::Answer(std::uint32_t callId, CallOutcome outcome) {
  const auto it = pending_.find(callId);
  if (it == pending_.end() || it->second.answered) {
    return "ended: it answered a call it was not given";
  }
  it->second = {true, std::move(outcome)};
  changed_.notify_all();
  return nullptr;
}

const char* WorkerConnection::Accept(const ipc::Message& message) {
  if (const auto* event = std::get_if<ipc::ReaderEvent>(&message)) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (!greeted_) return "ended: its first message was not a Hello";
    }
    // Outside lock_: a watcher leaving may end this worker meanwhile.
    if (!hub_->Apply(*event)) return "ended: it reported too many readers or too long a name";
    return nullptr;
  }
  std::lock_guard<std::mutex> hold(lock_);
  if (!greeted_) {
    const auto* hello = std::get_if<ipc::Hello>(&message);
    if (hello == nullptr) return "ended: its first message was not a Hello";
    if (hello->processId != processId_) return "ended: its Hello named another process";
    greeted_ = true;
    changed_.notify_all();
    return nullptr;
  }
  if (const auto* result = std::get_if<ipc::Result>(&message)) {
    return Answer(result->callId, {CallStatus::Ok, result->result, result->lastError});
  }
  if (const auto* busy = std::get_if<ipc::Busy>(&message)) {
    return Answer(busy->callId, {CallStatus::Busy, {}, 0});
  }
  if (const auto* failed = std::get_if<ipc::Failed>(&message)) {
    const char* problem = Answer(failed->callId, {CallStatus::Failed, {}, 0});
    if (problem == nullptr) {
      log_.Write(LogEvent::kWorkerCallFailed, "worker of Windows session " +
                                                  std::to_string(windowsSession_) +
                                                  ": a call failed: " + failed->reason);
    }
    return problem;
  }
  return "ended: it sent a message only the service sends";
}

void WorkerConnection::ReadLoop() noexcept {
  try {
    while (!stopping_ && !Ended()) {
      const ipc::FramePump::Received next = pump_.Next(limits_.readSlice);
      switch (next.got) {
        case ipc::FramePump::Got::Nothing:
          continue;
        case ipc::FramePump::Got::Closed:
          return End("exited", false);
        case ipc::FramePump::Got::Oversized:
          return End("ended: it sent an oversized message", true);
        case ipc::FramePump::Got::Malformed:
          return End("ended: it sent a malformed message", true);
        case ipc::FramePump::Got::Message:
          if (const char* problem = Accept(next.message)) return End(problem, true);
      }
    }
  } catch (...) {
    End("ended: its messages could not be read", true);
  }
}

}  // namespace qardex::service
