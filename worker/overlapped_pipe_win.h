// The worker's end of the service's named pipe, opened for overlapped I/O: one thread reads while
// the call threads write, and every read and write ends within its limit.
#pragma once

#include <windows.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "worker/worker_loop.h"

namespace qardex::worker {

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
// A kernel handle that is closed with its owner; null when there is none.
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

// A write the service does not take within this limit counts as a broken pipe.
inline constexpr std::chrono::milliseconds kPipeWriteLimit = std::chrono::seconds(10);
// How long a cancelled read or write may take to finish cancelling.
inline constexpr std::chrono::milliseconds kPipeCancelLimit = std::chrono::seconds(2);

class OverlappedPipe final : public PipeEnd {
 public:
  // Takes a pipe handle opened with FILE_FLAG_OVERLAPPED. Throws std::system_error when the
  // events for its I/O cannot be made.
  explicit OverlappedPipe(OwnedHandle pipe);
  ~OverlappedPipe() override;
  OverlappedPipe(const OverlappedPipe&) = delete;
  OverlappedPipe& operator=(const OverlappedPipe&) = delete;

  bool Write(std::string_view bytes) override;
  ReadStatus Read(std::string& bytes, std::chrono::milliseconds limit) override;

 private:
  // One direction's I/O with its buffer. When a cancelled operation does not finish cancelling in
  // time, the system may still use its buffer and OVERLAPPED: the direction is then given up, and
  // its memory is never freed (the process is about to end anyway).
  struct Direction {
    OwnedHandle event;
    OVERLAPPED overlapped{};
    std::string buffer;
    bool stuck = false;
  };
  enum class Wait { Done, TimedOut, Stuck };
  // Waits at most `limit` for the operation started on `io`, cancelling it when the limit passes.
  // Done: the operation ended (successfully or not); TimedOut: it was cancelled in time.
  Wait Finish(Direction& io, std::chrono::milliseconds limit);

  OwnedHandle pipe_;
  std::unique_ptr<Direction> reading_;
  std::unique_ptr<Direction> writing_;
};

}  // namespace qardex::worker
