// The workers of the service: one per Windows session, started as that session's user on the
// first call that needs it and shared by every service session of that Windows session. A
// worker that exits, misbehaves or hangs is ended and the next call starts a new one; a call
// that was sent is never sent again. Workers with nothing to do are closed after an idle time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/service_clock.h"
#include "broker/worker_connection.h"

namespace qardex::service {

class WorkerPool {
 public:
  // `clock` measures the idle time only; the waits for a Hello and a reply use the steady clock.
  WorkerPool(WorkerStarter& starter, ServiceLog& log, SteadyClock clock, WorkerLimits limits = {});
  // Ends every worker (StopAll).
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // A worker-side session number, unique in the process, for a new service session of that
  // Windows session. While it is open, the Windows session's worker is not closed for idleness.
  std::uint64_t OpenSession(std::uint32_t windowsSession);
  // The service session is gone: its worker forgets it (when the worker it was opened on still
  // runs). Never throws.
  void CloseSession(std::uint32_t windowsSession, std::uint64_t session,
                    std::uint64_t openedOn) noexcept;

  // Runs a method in the worker of the caller's Windows session, starting one when there is none
  // (or when the one there belongs to another user). `openedOn` is the generation of the worker
  // that knows `session` (0: none yet); the answer tells the one that knows it now.
  SessionCall Call(const Caller& caller, std::uint64_t session, std::uint64_t openedOn,
                   std::string_view method, const std::vector<ipc::Value>& args,
                   const CallContext& context = {});

  // Whether the worker of generation `openedOn` still runs for the caller: the engine session
  // opened there is then still the one it holds.
  bool StillServes(const Caller& caller, std::uint64_t openedOn);

  // A watcher of the readers of the caller's Windows session, its worker started when needed;
  // null when no worker can be had.
  std::shared_ptr<ReaderWatcher> WatchReaders(const Caller& caller);

  // Closes the workers that have had no call and no open service session for the idle limit, and
  // lets go of workers that have ended. The service calls it about once a second.
  void RetireIdle();
  // The Windows session's user signed off: its worker ends now.
  void EndWindowsSession(std::uint32_t windowsSession);
  // The service stops: every worker ends now, and no new one starts. Bounded: each worker's
  // reading thread stops within one read slice.
  void StopAll();

 private:
  using Connection = std::shared_ptr<WorkerConnection>;
  // The worker of one Windows session and what keeps it.
  struct WindowsSessionWorker {
    Connection worker;
    std::string userSid;  // whom the worker runs as
    std::size_t openSessions = 0;
    std::size_t callsInFlight = 0;
    std::chrono::steady_clock::time_point lastUse;
    std::shared_ptr<std::timed_mutex> starting = std::make_shared<std::timed_mutex>();
  };
  class CallInFlight;

  // The running worker for the caller, started when needed; null when none can be had.
  Connection Acquire(const Caller& caller);
  Connection Start(const Caller& caller);
  // The entry's worker if it can take the caller's calls; else moves an unusable one to `done`.
  static Connection Usable(WindowsSessionWorker& entry, const Caller& caller,
                           std::vector<Connection>& done);

  WorkerStarter& starter_;
  ServiceLog& log_;
  SteadyClock clock_;
  const WorkerLimits limits_;
  std::mutex lock_;
  std::map<std::uint32_t, WindowsSessionWorker> byWindowsSession_;
  std::uint64_t nextGeneration_ = 1;
  std::uint64_t nextSession_ = 1;
  bool stopped_ = false;
};

}  // namespace qardex::service
