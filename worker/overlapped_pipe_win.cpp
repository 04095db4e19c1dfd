#include "worker/overlapped_pipe_win.h"

#include <algorithm>
#include <system_error>

namespace qardex::worker {

namespace {

constexpr std::size_t kReadChunkBytes = 4096;
// Larger writes go in pieces of this size (a reply is far smaller).
constexpr std::size_t kWriteChunkBytes = 1 << 20;

DWORD Milliseconds(std::chrono::steady_clock::duration limit) {
  const auto count = std::chrono::duration_cast<std::chrono::milliseconds>(limit).count();
  return static_cast<DWORD>(std::clamp<long long>(count, 0, INFINITE - 1));
}

OwnedHandle NewEvent() {
  OwnedHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event) {
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                            "CreateEventW");
  }
  return event;
}

}  // namespace

OverlappedPipe::OverlappedPipe(OwnedHandle pipe)
    : pipe_(std::move(pipe)),
      reading_(std::make_unique<Direction>()),
      writing_(std::make_unique<Direction>()) {
  reading_->event = NewEvent();
  writing_->event = NewEvent();
  reading_->buffer.resize(kReadChunkBytes);
}

OverlappedPipe::~OverlappedPipe() {
  pipe_.reset();  // ends whatever is still in flight
  if (reading_->stuck) static_cast<void>(reading_.release());
  if (writing_->stuck) static_cast<void>(writing_.release());
}

OverlappedPipe::Wait OverlappedPipe::Finish(Direction& io, std::chrono::milliseconds limit) {
  if (WaitForSingleObject(io.event.get(), Milliseconds(limit)) == WAIT_OBJECT_0) return Wait::Done;
  CancelIoEx(pipe_.get(), &io.overlapped);
  if (WaitForSingleObject(io.event.get(), Milliseconds(kPipeCancelLimit)) == WAIT_OBJECT_0) {
    return Wait::TimedOut;
  }
  io.stuck = true;
  return Wait::Stuck;
}

PipeEnd::ReadStatus OverlappedPipe::Read(std::string& bytes, std::chrono::milliseconds limit) {
  Direction& io = *reading_;
  if (io.stuck) return ReadStatus::Closed;
  io.overlapped = OVERLAPPED{};
  io.overlapped.hEvent = io.event.get();
  if (!ReadFile(pipe_.get(), io.buffer.data(), static_cast<DWORD>(io.buffer.size()), nullptr,
                &io.overlapped) &&
      GetLastError() != ERROR_IO_PENDING) {
    return ReadStatus::Closed;
  }
  const Wait wait = Finish(io, limit);
  if (wait == Wait::Stuck) return ReadStatus::Closed;
  DWORD count = 0;
  if (!GetOverlappedResult(pipe_.get(), &io.overlapped, &count, FALSE)) {
    // Cancelled in time: nothing arrived. Anything else (the service's end closed) ends the pipe.
    return GetLastError() == ERROR_OPERATION_ABORTED ? ReadStatus::Timeout : ReadStatus::Closed;
  }
  bytes.append(io.buffer.data(), count);
  return ReadStatus::Data;  // a read that completed as it was cancelled still counts
}

bool OverlappedPipe::Write(std::string_view bytes) {
  Direction& io = *writing_;
  if (io.stuck) return false;
  const auto deadline = std::chrono::steady_clock::now() + kPipeWriteLimit;
  io.buffer.assign(bytes);
  std::size_t sent = 0;
  while (sent < io.buffer.size()) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return false;
    io.overlapped = OVERLAPPED{};
    io.overlapped.hEvent = io.event.get();
    const DWORD chunk = static_cast<DWORD>(std::min(io.buffer.size() - sent, kWriteChunkBytes));
    if (!WriteFile(pipe_.get(), io.buffer.data() + sent, chunk, nullptr, &io.overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
      return false;
    }
    if (Finish(io, std::chrono::duration_cast<std::chrono::milliseconds>(left)) != Wait::Done) {
      return false;
    }
    DWORD count = 0;
    if (!GetOverlappedResult(pipe_.get(), &io.overlapped, &count, FALSE)) return false;
    sent += count;
  }
  return true;
}

}  // namespace qardex::worker
