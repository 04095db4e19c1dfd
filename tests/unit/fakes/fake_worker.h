// A worker in the test's own process behind a WorkerChannel: it says Hello, then answers each
// call as its script says; Answer gives the method's name and argument (-1 for a number method)
// with its count of calls as lastError. The starter hands out one per start.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "ipc/method_table.h"
#include "protocol/service_log.h"
#include "broker/worker_link.h"

namespace qardex::service::testing {

enum class Script {
  Answer,
  Busy,
  Fail,        // answers Failed
  Silent,      // never answers (a hung worker)
  Die,         // closes the pipe instead of answering
  Garbage,     // a frame that does not decode
  Oversized,   // a frame header beyond the limit
  Unexpected,  // a message only the service sends
  Stray,       // a reply to a call it was not given
  WrongHello,  // a Hello naming another process
  NoStart,     // the starter fails
};

struct FakeWorker {
  std::mutex lock;
  std::condition_variable changed;
  Script script = Script::Answer;
  std::uint32_t processId = 0;
  std::string toService;
  bool closed = false, terminated = false;
  int openedSessions = 0, calls = 0, closedSessions = 0;  // messages received
  bool watching = false;  // told to watch; reports reader "R" when told

  void Send(const ipc::Message& message) { toService += ipc::Frame(ipc::Encode(message)); }
  void Answer(const ipc::Call& call) {
    std::u16string text(call.method.begin(), call.method.end());
    if (!call.args.empty()) text += u":" + call.args[0].text;
    const bool number = ipc::FindMethod(call.method)->result == ipc::ValueType::Number;
    const ipc::Value result = number ? ipc::Value::Number(-1) : ipc::Value::Text(text);
    if (script == Script::Answer) Send(ipc::Result{call.callId, result, calls});
    if (script == Script::Busy) Send(ipc::Busy{call.callId});
    if (script == Script::Fail) Send(ipc::Failed{call.callId, "unknown session"});
    if (script == Script::Die) closed = true;
    if (script == Script::Garbage) toService += ipc::Frame("\x7f");
    if (script == Script::Oversized) toService += std::string("\xff\xff\xff\x7f", 4);
    if (script == Script::Unexpected) Send(ipc::OpenSession{call.session});
    if (script == Script::Stray) Send(ipc::Result{call.callId + 1, result, calls});
  }
};

class FakeChannel final : public WorkerChannel {
 public:
  explicit FakeChannel(std::shared_ptr<FakeWorker> worker) : worker_(std::move(worker)) {
    worker_->Send(ipc::Hello{worker_->processId + (worker_->script == Script::WrongHello)});
  }
  ~FakeChannel() override {
    std::lock_guard<std::mutex> hold(worker_->lock);
    worker_->closed = true;
  }
  bool Write(std::string_view bytes) override {
    std::lock_guard<std::mutex> hold(worker_->lock);
    if (worker_->closed) return false;
    frames_.Feed(bytes);
    for (std::string payload; frames_.Next(payload) == ipc::FrameReader::Status::Ready;) {
      const ipc::Message message = *ipc::Decode(payload);
      worker_->openedSessions += std::holds_alternative<ipc::OpenSession>(message);
      worker_->closedSessions += std::holds_alternative<ipc::CloseSession>(message);
      if (const auto* call = std::get_if<ipc::Call>(&message)) {
        ++worker_->calls;
        worker_->Answer(*call);
      }
      if (const auto* watch = std::get_if<ipc::Watch>(&message)) {
        worker_->watching = watch->on;
        if (!watch->on) continue;
        worker_->Send(ipc::ReaderEvent{ipc::ReaderEvent::Kind::ReaderAdded, 0, false, u"R"});
        worker_->Send(ipc::ReaderEvent{});  // Synced
      }
    }
    worker_->changed.notify_all();
    return true;
  }
  ReadStatus Read(std::string& bytes, std::chrono::milliseconds limit) override {
    std::unique_lock<std::mutex> hold(worker_->lock);
    worker_->changed.wait_for(hold, limit,
                              [&] { return !worker_->toService.empty() || worker_->closed; });
    if (worker_->toService.empty())
      return worker_->closed ? ReadStatus::Closed : ReadStatus::Timeout;
    bytes += std::exchange(worker_->toService, {});
    return ReadStatus::Data;
  }
  std::uint32_t ProcessId() const override { return worker_->processId; }
  void Terminate() override {
    std::lock_guard<std::mutex> hold(worker_->lock);
    worker_->terminated = worker_->closed = true;
    worker_->changed.notify_all();
  }

 private:
  std::shared_ptr<FakeWorker> worker_;
  ipc::FrameReader frames_;
};

struct FakeStarter final : WorkerStarter {
  Script next = Script::Answer;
  std::vector<Caller> callers;  // of each start
  std::vector<std::shared_ptr<FakeWorker>> workers;

  std::unique_ptr<WorkerChannel> Start(const Caller& caller, std::string& error) override {
    error = "no token for the session";
    if (next == Script::NoStart) return nullptr;
    callers.push_back(caller);
    workers.push_back(std::make_shared<FakeWorker>());
    workers.back()->script = next;
    workers.back()->processId = 100 + static_cast<std::uint32_t>(workers.size());
    return std::make_unique<FakeChannel>(workers.back());
  }
};

struct LogLines final : ServiceLog {
  std::mutex lock;
  std::string text;
  std::vector<std::pair<LogEvent, std::string>> events;  // all but notes
  void Record(LogEvent kind, std::string_view event) override {
    std::lock_guard<std::mutex> hold(lock);
    (text += event) += '\n';
    if (kind != LogEvent::kNote) events.emplace_back(kind, event);
  }
  bool Has(std::string_view part) {
    std::lock_guard<std::mutex> hold(lock);
    return text.find(part) != std::string::npos;
  }
  std::vector<LogEvent> Kinds() {
    std::lock_guard<std::mutex> hold(lock);
    std::vector<LogEvent> kinds;
    for (const auto& event : events) kinds.push_back(event.first);
    return kinds;
  }
};

}  // namespace qardex::service::testing
