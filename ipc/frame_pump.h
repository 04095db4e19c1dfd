// Messages over a pipe end: whole messages read within a limit on the clock, messages written as
// frames. Both sides of the pipe run one: the service for each worker, the worker for the service.
#pragma once

#include <chrono>
#include <initializer_list>
#include <mutex>
#include <string>

#include "ipc/message.h"
#include "ipc/pipe_end.h"

namespace qardex::ipc {

class FramePump {
 public:
  explicit FramePump(PipeEnd& pipe) : pipe_(pipe) {}
  FramePump(const FramePump&) = delete;
  FramePump& operator=(const FramePump&) = delete;

  enum class Got {
    Message,    // `message` is the next message
    Nothing,    // no whole message within the limit
    Closed,     // the pipe broke or the other side closed it
    Oversized,  // a frame announced more than kMaxPayloadBytes: the stream is unusable
    Malformed,  // a payload that does not decode
  };
  struct Received {
    Got got = Got::Nothing;
    Message message;
  };
  // The next message: one already read comes first, else reads until a whole one arrived or
  // `limit` has passed. One reader at a time.
  Received Next(std::chrono::milliseconds limit);

  enum class Sent { Ok, TooLarge, Broken };
  // Writes the messages as consecutive frames in one write, so that no other writer's frame
  // comes between them. TooLarge, with nothing written: one of them does not fit the limits of
  // the pipe. May run on several threads, and while another thread is inside Next.
  Sent Send(std::initializer_list<Message> messages);

 private:
  PipeEnd& pipe_;
  FrameReader frames_;
  std::string bytes_;
  std::string payload_;
  std::mutex writing_;
};

}  // namespace qardex::ipc
