// The worker's side of the pipe: it says Hello, then opens and closes sessions and runs calls as
// the service asks, until the service closes the pipe or says something the worker cannot take.
// Pure: the pipe and the methods come in through interfaces (the named pipe and the engine in the
// program, fakes in tests).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "ipc/pipe_end.h"
#include "inprocess/engine_session.h"
#include "inprocess/reader_events.h"

namespace qardex::worker {

// The loop's pipe end: one writer at a time (the loop serialises), Write may run while the
// reading thread is inside Read.
using ipc::PipeEnd;
// The methods and the reader watch, as this process runs them.
using inprocess::EngineSession;
using inprocess::EngineSessionFactory;
using inprocess::MethodResult;
using inprocess::ReaderEventSource;
using inprocess::ReaderEventWatch;

// Calls held at once, running or waiting for their turn; one more is answered Busy at once.
inline constexpr std::size_t kMaxCalls = 32;
// Sessions held at once: more than the service ever opens. Beyond it an OpenSession is ignored,
// so calls for that number are answered as for an unknown session.
inline constexpr std::size_t kMaxSessions = 256;
// How long a call waits for its session's previous call to end and, when it uses the card, for
// the card to be free; then it is answered Busy without running.
using inprocess::kCardWait;
// How long the loop, once the pipe is done, waits for calls still running.
inline constexpr std::chrono::milliseconds kDrainWait = std::chrono::seconds(5);
// How long one read waits before the loop looks whether a reply found the pipe broken.
inline constexpr std::chrono::milliseconds kReadSlice = std::chrono::seconds(1);

struct LoopLimits {
  std::chrono::milliseconds cardWait = kCardWait;
  std::chrono::milliseconds drainWait = kDrainWait;
  std::chrono::milliseconds readSlice = kReadSlice;
};

// The worker process's exit codes.
enum WorkerExit : int {
  kWorkerExitPipeClosed = 0,   // the service closed the pipe (or it broke)
  kWorkerExitBadMessage = 10,  // a frame too large, a payload that does not decode, or a message
                               // only a worker sends
  kWorkerExitNoPipe = 11,      // the pipe could not be opened
  kWorkerExitFailure = 12,     // anything else that stopped the worker
};

// Runs until the pipe closes or the service misbehaves, then waits at most `drainWait` for calls
// still running and returns one of the exit codes above. Never throws. The readers are watched
// through `events` while the service asks for it (without a source, a Watch is ignored).
int RunWorkerLoop(PipeEnd& pipe, EngineSessionFactory& sessions, std::uint32_t processId,
                  const LoopLimits& limits = {}, ReaderEventSource* events = nullptr);

}  // namespace qardex::worker
