// Overlapped operations on a pipe with a time limit: each end of the pipe between the service and
// a worker reads and writes on two threads at once, and gives up on a peer that does not answer.
#pragma once

#include <windows.h>

#include <array>
#include <chrono>
#include <memory>

#include "common/win_handles.h"

namespace qardex::ipc {

inline constexpr std::size_t kIoChunkBytes = 16 * 1024;

// One operation's OVERLAPPED, event and buffer. Kept on the heap: an operation the system does
// not give up within the cancel bound keeps them for good (FinishIo then lets go of them), so
// the system never writes into memory that is used again.
struct OverlappedIo {
  OVERLAPPED overlapped{};
  common::KernelHandle event;
  std::array<char, kIoChunkBytes> buffer{};

  // Null when no event could be made.
  static std::unique_ptr<OverlappedIo> Make();
  // A fresh OVERLAPPED for the next operation, its event reset.
  OVERLAPPED* Arm();
};

enum class IoEnd {
  Done,         // the operation completed; `bytes` were transferred
  TimedOut,     // the limit passed; the operation was cancelled
  Interrupted,  // `interrupt` was signalled first; the operation was cancelled
  Failed,       // the operation failed (`error`), or could not be cancelled and was let go
};

struct IoOutcome {
  IoEnd end = IoEnd::Failed;
  DWORD bytes = 0;
  DWORD error = 0;
};

// Completes an operation just started on `file` with `io` (`started` and `startError` are the
// starting call's result and GetLastError): waits at most `limit`, or until `interrupt` (when
// given) is signalled, and cancels it then. `io` is null afterwards when the operation had to be
// let go.
IoOutcome FinishIo(HANDLE file, std::unique_ptr<OverlappedIo>& io, BOOL started, DWORD startError,
                   std::chrono::milliseconds limit, HANDLE interrupt = nullptr);

}  // namespace qardex::ipc
