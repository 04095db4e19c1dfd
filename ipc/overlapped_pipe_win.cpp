#include "ipc/overlapped_pipe_win.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace qardex::ipc {

std::unique_ptr<OverlappedPipe> OverlappedPipe::Open(common::KernelHandle pipe) {
  std::unique_ptr<OverlappedIo> read = OverlappedIo::Make();
  std::unique_ptr<OverlappedIo> write = OverlappedIo::Make();
  if (!read || !write) return nullptr;
  return std::unique_ptr<OverlappedPipe>(
      new OverlappedPipe(std::move(pipe), std::move(read), std::move(write)));
}

OverlappedPipe::OverlappedPipe(common::KernelHandle pipe, std::unique_ptr<OverlappedIo> read,
                               std::unique_ptr<OverlappedIo> write)
    : pipe_(std::move(pipe)), read_(std::move(read)), write_(std::move(write)) {}

bool OverlappedPipe::Write(std::string_view bytes) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + kPipeWriteLimit;
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

PipeEnd::ReadStatus OverlappedPipe::Read(std::string& bytes, std::chrono::milliseconds limit) {
  if (!read_) return ReadStatus::Closed;
  const BOOL started = ReadFile(pipe_.get(), read_->buffer.data(),
                                static_cast<DWORD>(read_->buffer.size()), nullptr, read_->Arm());
  const IoOutcome outcome = FinishIo(pipe_.get(), read_, started, GetLastError(), limit);
  switch (outcome.end) {
    case IoEnd::Done:
      // A read that completed as it was cancelled still counts.
      bytes.append(read_->buffer.data(),
                   std::min<std::size_t>(outcome.bytes, read_->buffer.size()));
      return ReadStatus::Data;
    case IoEnd::TimedOut:
      return ReadStatus::Timeout;
    default:
      return ReadStatus::Closed;  // broken pipe, the other side gone, or an operation let go
  }
}

}  // namespace qardex::ipc
