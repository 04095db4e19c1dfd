// The service's end of a connected worker pipe, and the worker process behind it.
#pragma once

#include <windows.h>

#include <memory>

#include "service/overlapped_io_win.h"
#include "service/win_handles.h"
#include "service/worker_link.h"

namespace qardex::service {

class PipeWorkerChannel final : public WorkerChannel {
 public:
  // `pipe` is connected (opened for overlapped operations); `process` is its client.
  PipeWorkerChannel(KernelHandle pipe, KernelHandle process, std::uint32_t processId);
  // Closes the pipe, gives the worker a few seconds to exit on its own, then ends it.
  ~PipeWorkerChannel() override;

  bool Write(std::string_view bytes) override;
  ReadStatus Read(std::string& bytes, std::chrono::milliseconds limit) override;
  std::uint32_t ProcessId() const override { return processId_; }
  void Terminate() override;

 private:
  KernelHandle pipe_;
  KernelHandle process_;
  const std::uint32_t processId_;
  // Read and Write may run at the same time on two threads: each has its own operation state.
  // Null once an operation had to be let go (the pipe is then unusable).
  std::unique_ptr<OverlappedIo> read_;
  std::unique_ptr<OverlappedIo> write_;
};

}  // namespace qardex::service
