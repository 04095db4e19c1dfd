// The worker's writes to the service: one message at a time as a frame, from the reading thread,
// the call threads and the reader watch. Once a write failed the pipe counts as broken; once the
// loop let go of the pipe (Detach), what a call still running sends is dropped.
#pragma once

#include <atomic>
#include <mutex>

#include "ipc/frame_pump.h"
#include "ipc/message.h"

namespace qardex::worker {

class ReplyWriter {
 public:
  explicit ReplyWriter(ipc::FramePump& pipe) : pump_(&pipe) {}
  ReplyWriter(const ReplyWriter&) = delete;
  ReplyWriter& operator=(const ReplyWriter&) = delete;

  // False when the pipe is broken or detached. A result too large for a frame goes as a
  // failure of its call instead.
  bool Send(const ipc::Message& message);
  bool Broken() const { return broken_; }
  // No write reaches the pipe after this returns.
  void Detach();

 private:
  std::mutex writeLock_;
  ipc::FramePump* pump_;
  std::atomic<bool> broken_{false};
};

}  // namespace qardex::worker
