// The page protocol's sessions, run by the workers: each service session is one engine session in
// the worker of its Windows session, under a number unique in the service.
//
// A worker that ended takes its engine sessions with it. The next call of such a session goes to
// the new worker, which is told to open the session first: the call then runs in a fresh engine
// session, as in a control just made (lastError 0, the random generator seeded anew), rather than
// failing for good. The call that was running when the worker ended is not repeated.
//
// GetVersion gives the build's version and changes nothing in the session: the service answers it
// itself, without the trip to the worker, whenever it knows the session's lastError (the last one
// the worker holding the session reported, or 0 for a session no worker holds yet).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "protocol/method_runner.h"
#include "broker/worker_pool.h"

namespace qardex::service {

class WorkerSession final : public MethodSession {
 public:
  WorkerSession(WorkerPool& pool, const Caller& caller);
  // Tells the worker to forget the session.
  ~WorkerSession() override;
  WorkerSession(const WorkerSession&) = delete;
  WorkerSession& operator=(const WorkerSession&) = delete;

  CallOutcome Call(const ipc::MethodSignature& method, const std::vector<ipc::Value>& args,
                   const CallContext& context = {}) override;
  std::shared_ptr<ReaderWatcher> WatchReaders() override { return pool_.WatchReaders(caller_); }

 private:
  WorkerPool& pool_;
  const Caller caller_;
  const std::uint64_t number_;
  std::uint64_t openedOn_ = 0;  // the generation of the worker that knows the session
  // The session's lastError after its last answer; unknown after a call that got none.
  std::optional<std::int32_t> lastError_ = 0;
};

class WorkerProvider final : public MethodProvider {
 public:
  explicit WorkerProvider(WorkerPool& pool) : pool_(pool) {}
  std::unique_ptr<MethodSession> OpenSession(const Caller& caller) override;

 private:
  WorkerPool& pool_;
};

}  // namespace qardex::service
