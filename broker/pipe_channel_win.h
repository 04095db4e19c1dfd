// The service's end of a connected worker pipe, and the worker process behind it.
#pragma once

#include <windows.h>

#include <memory>

#include "common/win_handles.h"
#include "ipc/overlapped_pipe_win.h"
#include "broker/worker_link.h"

namespace qardex::service {

class PipeWorkerChannel final : public WorkerChannel {
 public:
  // `pipe` is connected (opened for overlapped operations); `process` is its client.
  PipeWorkerChannel(common::KernelHandle pipe, common::KernelHandle process,
                    std::uint32_t processId);
  // Closes the pipe, gives the worker a few seconds to exit on its own, then ends it.
  ~PipeWorkerChannel() override;

  bool Write(std::string_view bytes) override;
  ReadStatus Read(std::string& bytes, std::chrono::milliseconds limit) override;
  std::uint32_t ProcessId() const override { return processId_; }
  void Terminate() override;

 private:
  // Null when its I/O could not be set up: the pipe then counts as broken.
  std::unique_ptr<ipc::OverlappedPipe> pipe_;
  common::KernelHandle process_;
  const std::uint32_t processId_;
};

}  // namespace qardex::service
