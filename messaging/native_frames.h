// The framing of native messaging between a browser and its native host: each message is a
// 32-bit length in the machine's byte order (little-endian on every platform we run on) and that
// many bytes of UTF-8 JSON (judged by the reader of the message, as any JSON text). The browser may
// send up to 64 MiB; our requests are small, so a frame beyond the bound is taken for a browser or
// a peer that is not ours.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qardex::messaging {

// What the host accepts from the browser in one message.
inline constexpr std::size_t kMaxIncomingFrame = 1024 * 1024;
// What a browser accepts from a native host in one message.
inline constexpr std::size_t kMaxOutgoingFrame = 1024 * 1024;

// Where frames are read from (the host's standard input). Blocks until at least one byte is
// there; 0 at the end of input (the browser closed the port or ended).
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::size_t Read(char* buffer, std::size_t capacity) = 0;
};

enum class FrameStatus {
  Message,    // `json` holds one message
  End,        // the input ended between messages
  Truncated,  // the input ended inside a frame
  TooLarge,   // the frame announced more than the bound; nothing of it was read
};

struct FrameRead {
  FrameStatus status = FrameStatus::End;
  std::string json;
  std::uint32_t announced = 0;  // the length the frame announced
};

// The next frame, however the source splits it.
FrameRead ReadFrame(ByteSource& source, std::size_t limit = kMaxIncomingFrame);

// The frame that carries `json`; nothing when it is beyond the browser's bound.
std::optional<std::string> FrameOf(std::string_view json, std::size_t limit = kMaxOutgoingFrame);

}  // namespace qardex::messaging
