#include "broker/worker_session.h"

#include <string>
#include <string_view>

#include "engine/session.h"

namespace qardex::service {

WorkerSession::WorkerSession(WorkerPool& pool, const Caller& caller)
    : pool_(pool), caller_(caller), number_(pool.OpenSession(caller.windowsSession)) {}

WorkerSession::~WorkerSession() { pool_.CloseSession(caller_.windowsSession, number_, openedOn_); }

CallOutcome WorkerSession::Call(const ipc::MethodSignature& method,
                                const std::vector<ipc::Value>& args, const CallContext& context) {
  if (method.name == "GetVersion" && lastError_ &&
      (openedOn_ == 0 || pool_.StillServes(caller_, openedOn_))) {
    const std::string_view version = engine::kComponentVersion;
    return {CallStatus::Ok, ipc::Value::Text(std::u16string(version.begin(), version.end())),
            *lastError_};
  }
  SessionCall call = pool_.Call(caller_, number_, openedOn_, method.name, args, context);
  openedOn_ = call.openedOn;
  CallOutcome outcome = std::move(call.outcome);
  lastError_.reset();
  if (outcome.status == CallStatus::Ok) lastError_ = outcome.lastError;
  return outcome;
}

std::unique_ptr<MethodSession> WorkerProvider::OpenSession(const Caller& caller) {
  return std::make_unique<WorkerSession>(pool_, caller);
}

}  // namespace qardex::service
