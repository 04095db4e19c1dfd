#include "service/worker_session.h"

namespace qardex::service {

WorkerSession::WorkerSession(WorkerPool& pool, const Caller& caller)
    : pool_(pool), caller_(caller), number_(pool.OpenSession(caller.windowsSession)) {}

WorkerSession::~WorkerSession() { pool_.CloseSession(caller_.windowsSession, number_, openedOn_); }

CallOutcome WorkerSession::Call(const ipc::MethodSignature& method,
                                const std::vector<ipc::Value>& args, const Abandoned& abandoned) {
  return pool_.Call(caller_, number_, openedOn_, method.name, args, abandoned);
}

std::unique_ptr<MethodSession> WorkerProvider::OpenSession(const Caller& caller) {
  return std::make_unique<WorkerSession>(pool_, caller);
}

}  // namespace qardex::service
