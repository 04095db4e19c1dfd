#include "ipc/frame_pump.h"

#include <utility>

namespace qardex::ipc {

FramePump::Received FramePump::Next(std::chrono::milliseconds limit) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + limit;
  for (;;) {
    const FrameReader::Status status = frames_.Next(payload_);
    if (status == FrameReader::Status::Oversized) return {Got::Oversized, {}};
    if (status == FrameReader::Status::Ready) {
      std::optional<Message> message = Decode(payload_);
      if (!message) return {Got::Malformed, {}};
      return {Got::Message, std::move(*message)};
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return {Got::Nothing, {}};
    bytes_.clear();
    const PipeEnd::ReadStatus read = pipe_.Read(bytes_, left);
    if (read == PipeEnd::ReadStatus::Closed) return {Got::Closed, {}};
    if (read == PipeEnd::ReadStatus::Timeout) return {Got::Nothing, {}};
    frames_.Feed(bytes_);
  }
}

FramePump::Sent FramePump::Send(std::initializer_list<Message> messages) {
  std::string frames;
  for (const Message& message : messages) {
    const std::string payload = Encode(message);
    if (payload.empty()) return Sent::TooLarge;  // beyond the limits
    frames += Frame(payload);
  }
  std::lock_guard<std::mutex> turn(writing_);
  return pipe_.Write(frames) ? Sent::Ok : Sent::Broken;
}

}  // namespace qardex::ipc
