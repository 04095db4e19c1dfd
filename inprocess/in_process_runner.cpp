#include "inprocess/in_process_runner.h"

#include <utility>

namespace qardex::inprocess {

class InProcessRunner::Session final : public service::MethodSession {
 public:
  Session(InProcessRunner& runner, std::unique_ptr<EngineSession> engine)
      : runner_(runner), engine_(std::move(engine)) {}

  service::CallOutcome Call(const ipc::MethodSignature& method, const std::vector<ipc::Value>& args,
                            const service::CallContext& context) override {
    std::unique_lock<std::timed_mutex> card(runner_.card_, std::defer_lock);
    if (method.usesCard) {
      const service::CallContext::Waited waited =
          context.WaitFor(std::chrono::steady_clock::now() + runner_.cardWait_,
                          [&card](std::chrono::steady_clock::time_point until) {
                            return card.try_lock_until(until);
                          });
      // A caller who has gone gets no answer; Busy keeps the card for the next one.
      if (waited != service::CallContext::Waited::Ready) return {service::CallStatus::Busy, {}, 0};
    }
    try {
      MethodResult answer = engine_->Call(method, args);
      if (answer.result.kind != method.result) return {service::CallStatus::Failed, {}, 0};
      return {service::CallStatus::Ok, std::move(answer.result), answer.lastError};
    } catch (...) {
      return {service::CallStatus::Failed, {}, 0};
    }
  }

  std::shared_ptr<service::ReaderWatcher> WatchReaders() override {
    return runner_.hub_->Subscribe();
  }

 private:
  InProcessRunner& runner_;
  const std::unique_ptr<EngineSession> engine_;
};

InProcessRunner::InProcessRunner(EngineSessionFactory& engine, ReaderEventSource* readers,
                                 std::chrono::milliseconds cardWait)
    : engine_(engine),
      readers_(readers),
      cardWait_(cardWait),
      hub_(std::make_shared<service::ReaderHub>([this](bool on) { return SwitchWatch(on); })) {}

InProcessRunner::~InProcessRunner() {
  hub_->Close();
  hub_->Detach();
  std::lock_guard<std::mutex> hold(watching_);
  watch_.reset();
}

std::unique_ptr<service::MethodSession> InProcessRunner::OpenSession(const service::Caller&) {
  std::unique_ptr<EngineSession> engine = engine_.OpenSession();
  if (!engine) return nullptr;
  return std::make_unique<Session>(*this, std::move(engine));
}

bool InProcessRunner::SwitchWatch(bool on) {
  std::lock_guard<std::mutex> hold(watching_);
  if (!on) {
    watch_.reset();  // returns once the watch has stopped
    return true;
  }
  if (watch_) return true;
  if (readers_ == nullptr) return false;
  // The watch reports on its own thread; the hub outlives it (the watch is stopped first).
  watch_ = readers_->Start(
      [hub = std::weak_ptr<service::ReaderHub>(hub_)](const ipc::ReaderEvent& event) {
        if (const std::shared_ptr<service::ReaderHub> live = hub.lock()) live->Apply(event);
      });
  return watch_ != nullptr;
}

}  // namespace qardex::inprocess
