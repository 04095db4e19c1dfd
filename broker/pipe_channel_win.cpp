#include "broker/pipe_channel_win.h"

#include <utility>

namespace qardex::service {

namespace {

// How long a worker whose pipe closed may take to exit by itself.
constexpr DWORD kExitWaitMs = 3000;

}  // namespace

PipeWorkerChannel::PipeWorkerChannel(common::KernelHandle pipe, common::KernelHandle process,
                                     std::uint32_t processId)
    : pipe_(ipc::OverlappedPipe::Open(std::move(pipe))),
      process_(std::move(process)),
      processId_(processId) {}

PipeWorkerChannel::~PipeWorkerChannel() {
  pipe_.reset();  // the worker sees its pipe closed and exits
  if (process_ && WaitForSingleObject(process_.get(), kExitWaitMs) != WAIT_OBJECT_0) {
    TerminateProcess(process_.get(), 1);
  }
}

bool PipeWorkerChannel::Write(std::string_view bytes) { return pipe_ && pipe_->Write(bytes); }

WorkerChannel::ReadStatus PipeWorkerChannel::Read(std::string& bytes,
                                                  std::chrono::milliseconds limit) {
  return pipe_ ? pipe_->Read(bytes, limit) : ReadStatus::Closed;
}

void PipeWorkerChannel::Terminate() {
  if (process_) TerminateProcess(process_.get(), 1);
}

}  // namespace qardex::service
