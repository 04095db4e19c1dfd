// How the service reaches a worker: a started worker process with the pipe to it. Bound to named
// pipes and CreateProcessAsUserW on Windows, to fakes in tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ipc/pipe_end.h"
#include "protocol/caller.h"

namespace qardex::service {

// The pipe to the worker (Read ends Closed once the worker is gone) and its process.
class WorkerChannel : public ipc::PipeEnd {
 public:
  // Closes the pipe; a process that has not exited within a short bound is ended.
  ~WorkerChannel() override = default;

  // The worker's process id as the system reports it for the pipe's client.
  virtual std::uint32_t ProcessId() const = 0;

  // Ends the process now (a worker that hangs or misbehaves). May run while other threads are
  // inside Read or Write; those then end within their limits.
  virtual void Terminate() = 0;
};

class WorkerStarter {
 public:
  virtual ~WorkerStarter() = default;
  // Starts a worker in the caller's Windows session as that session's user, connected by a pipe
  // that admits SYSTEM and that user only. Null with `error` set when it cannot.
  virtual std::unique_ptr<WorkerChannel> Start(const Caller& caller, std::string& error) = 0;
};

}  // namespace qardex::service
