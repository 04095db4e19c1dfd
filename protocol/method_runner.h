// What the page protocol needs from whatever runs the methods: sessions that each hold what one
// control holds (lastError, the random generator seeded when the session is made), opened for a
// caller.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ipc/method_table.h"
#include "protocol/call_context.h"
#include "protocol/caller.h"
#include "protocol/reader_events.h"

namespace qardex::service {

enum class CallStatus {
  Ok,           // `result` and `lastError` hold the method's answer
  Busy,         // the card stayed held by another call for the whole card wait
  Failed,       // the call did not run or did not finish (the worker said why, in the log)
  WorkerEnded,  // the worker ended while the call was sent or running; the call is not repeated
  Unavailable,  // no worker could be started for the caller
};

struct CallOutcome {
  CallStatus status = CallStatus::Ok;
  ipc::Value result;  // of the method's result type when Ok
  std::int32_t lastError = 0;
};

class MethodSession {
 public:
  virtual ~MethodSession() = default;
  // The arguments already fit the method. Calls of one session never overlap.
  virtual CallOutcome Call(const ipc::MethodSignature& method, const std::vector<ipc::Value>& args,
                           const CallContext& context = {}) = 0;
  // A watcher of the readers this session's calls use; null when they cannot be watched.
  virtual std::shared_ptr<ReaderWatcher> WatchReaders() { return nullptr; }
};

class MethodProvider {
 public:
  virtual ~MethodProvider() = default;
  // A session whose calls run for that caller; null when none can be made.
  virtual std::unique_ptr<MethodSession> OpenSession(const Caller& caller) = 0;
};

}  // namespace qardex::service
