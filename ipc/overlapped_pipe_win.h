// A pipe end over a connected named pipe opened for overlapped I/O: one thread reads while
// another writes, and every read and write ends within its limit.
#pragma once

#include <windows.h>

#include <memory>

#include "common/win_handles.h"
#include "ipc/overlapped_io_win.h"
#include "ipc/pipe_end.h"

namespace qardex::ipc {

// A write the other side does not take within this limit counts as a broken pipe: each side
// reads its pipe all the time, so one that takes longer is hung.
inline constexpr std::chrono::milliseconds kPipeWriteLimit{10000};

class OverlappedPipe final : public PipeEnd {
 public:
  // Null when the events for its I/O cannot be made.
  static std::unique_ptr<OverlappedPipe> Open(common::KernelHandle pipe);
  // Reached only when neither Read nor Write is running.
  ~OverlappedPipe() override = default;
  OverlappedPipe(const OverlappedPipe&) = delete;
  OverlappedPipe& operator=(const OverlappedPipe&) = delete;

  bool Write(std::string_view bytes) override;
  ReadStatus Read(std::string& bytes, std::chrono::milliseconds limit) override;

 private:
  OverlappedPipe(common::KernelHandle pipe, std::unique_ptr<OverlappedIo> read,
                 std::unique_ptr<OverlappedIo> write);

  common::KernelHandle pipe_;
  // Read and Write may run at the same time on two threads: each has its own operation state.
  // Null once an operation had to be let go (the pipe is then unusable).
  std::unique_ptr<OverlappedIo> read_;
  std::unique_ptr<OverlappedIo> write_;
};

}  // namespace qardex::ipc
