#include "service/pipe_channel_win.h"

#include <algorithm>
#include <cstring>

namespace qardex::service {

namespace {

using Clock = std::chrono::steady_clock;

// A worker reads its pipe all the time; one that takes longer to take a message is hung.
constexpr std::chrono::milliseconds kWriteLimit{10000};
// How long a worker whose pipe closed may take to exit by itself.
constexpr DWORD kExitWaitMs = 3000;

}  // namespace

PipeWorkerChannel::PipeWorkerChannel(KernelHandle pipe, KernelHandle process,
                                     std::uint32_t processId)
    : pipe_(std::move(pipe)),
      process_(std::move(process)),
      processId_(processId),
      read_(OverlappedIo::Make()),
      write_(OverlappedIo::Make()) {}

PipeWorkerChannel::~PipeWorkerChannel() {
  pipe_.reset();  // the worker sees its pipe closed and exits
  if (process_ && WaitForSingleObject(process_.get(), kExitWaitMs) != WAIT_OBJECT_0) {
    TerminateProcess(process_.get(), 1);
  }
}

bool PipeWorkerChannel::Write(std::string_view bytes) {
  const Clock::time_point deadline = Clock::now() + kWriteLimit;
  while (!bytes.empty()) {
    if (!write_) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    const DWORD chunk = static_cast<DWORD>(std::min(bytes.size(), write_->buffer.size()));
    // The operation writes from its own buffer: the caller's bytes may go once Write returns.
    std::memcpy(write_->buffer.data(), bytes.data(), chunk);
    const BOOL started =
        WriteFile(pipe_.get(), write_->buffer.data(), chunk, nullptr, write_->Arm());
    const IoOutcome outcome = FinishIo(pipe_.get(), write_, started, GetLastError(), left);
    if (outcome.end != IoEnd::Done || outcome.bytes == 0) return false;
    bytes.remove_prefix(std::min<std::size_t>(outcome.bytes, chunk));
  }
  return true;
}

WorkerChannel::ReadStatus PipeWorkerChannel::Read(std::string& bytes,
                                                  std::chrono::milliseconds limit) {
  if (!read_) return ReadStatus::Closed;
  const BOOL started = ReadFile(pipe_.get(), read_->buffer.data(),
                                static_cast<DWORD>(read_->buffer.size()), nullptr, read_->Arm());
  const IoOutcome outcome = FinishIo(pipe_.get(), read_, started, GetLastError(), limit);
  switch (outcome.end) {
    case IoEnd::Done:
      bytes.append(read_->buffer.data(),
                   std::min<std::size_t>(outcome.bytes, read_->buffer.size()));
      return ReadStatus::Data;
    case IoEnd::TimedOut:
      return ReadStatus::Timeout;
    default:
      return ReadStatus::Closed;  // broken pipe, worker gone, or an operation let go
  }
}

void PipeWorkerChannel::Terminate() {
  if (process_) TerminateProcess(process_.get(), 1);
}

}  // namespace qardex::service
