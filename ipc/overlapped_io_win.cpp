#include "ipc/overlapped_io_win.h"

#include <algorithm>

namespace qardex::ipc {

namespace {

// CancelIoEx completes a pipe operation at once; this only guards against a system that does not.
constexpr DWORD kCancelWaitMs = 2000;

DWORD WaitMilliseconds(std::chrono::milliseconds limit) {
  // INFINITE is 0xFFFFFFFF: stay below it.
  return static_cast<DWORD>(
      std::clamp<std::chrono::milliseconds::rep>(limit.count(), 0, 0x7FFFFFFF));
}

}  // namespace

std::unique_ptr<OverlappedIo> OverlappedIo::Make() {
  auto io = std::make_unique<OverlappedIo>();
  io->event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!io->event) return nullptr;
  return io;
}

OVERLAPPED* OverlappedIo::Arm() {
  ResetEvent(event.get());
  overlapped = OVERLAPPED{};
  overlapped.hEvent = event.get();
  return &overlapped;
}

IoOutcome FinishIo(HANDLE file, std::unique_ptr<OverlappedIo>& io, BOOL started, DWORD startError,
                   std::chrono::milliseconds limit, HANDLE interrupt) {
  IoOutcome outcome;
  if (!started && startError != ERROR_IO_PENDING) {
    outcome.error = startError;
    return outcome;
  }
  const HANDLE waits[2] = {io->event.get(), interrupt};
  const DWORD waited =
      WaitForMultipleObjects(interrupt != nullptr ? 2 : 1, waits, FALSE, WaitMilliseconds(limit));
  if (waited != WAIT_OBJECT_0) {
    CancelIoEx(file, &io->overlapped);
    if (WaitForSingleObject(io->event.get(), kCancelWaitMs) != WAIT_OBJECT_0) {
      // Still in the system's hands: its OVERLAPPED, event and buffer must outlive it.
      static_cast<void>(io.release());
      outcome.error = ERROR_OPERATION_ABORTED;
      return outcome;
    }
  }
  if (GetOverlappedResult(file, &io->overlapped, &outcome.bytes, FALSE)) {
    outcome.end = IoEnd::Done;  // possibly just before the cancel took effect
    return outcome;
  }
  outcome.error = GetLastError();
  if (outcome.error != ERROR_OPERATION_ABORTED) return outcome;
  if (waited == WAIT_TIMEOUT) {
    outcome.end = IoEnd::TimedOut;
  } else if (waited == WAIT_OBJECT_0 + 1) {
    outcome.end = IoEnd::Interrupted;
  }
  return outcome;
}

}  // namespace qardex::ipc
