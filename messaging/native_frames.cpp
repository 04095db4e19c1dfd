#include "messaging/native_frames.h"

namespace qardex::messaging {

namespace {

// Reads exactly `count` bytes; false when the input ends first.
bool ReadExactly(ByteSource& source, char* into, std::size_t count) {
  while (count > 0) {
    const std::size_t got = source.Read(into, count);
    if (got == 0 || got > count) return false;
    into += got;
    count -= got;
  }
  return true;
}

}  // namespace

FrameRead ReadFrame(ByteSource& source, std::size_t limit) {
  FrameRead frame;
  unsigned char header[4];
  const std::size_t first = source.Read(reinterpret_cast<char*>(header), sizeof header);
  if (first == 0) return frame;  // End
  if (first > sizeof header ||
      !ReadExactly(source, reinterpret_cast<char*>(header) + first, sizeof header - first)) {
    frame.status = FrameStatus::Truncated;
    return frame;
  }
  frame.announced =
      static_cast<std::uint32_t>(header[0]) | static_cast<std::uint32_t>(header[1]) << 8 |
      static_cast<std::uint32_t>(header[2]) << 16 | static_cast<std::uint32_t>(header[3]) << 24;
  if (frame.announced > limit) {
    frame.status = FrameStatus::TooLarge;
    return frame;
  }
  frame.json.resize(frame.announced);
  if (!ReadExactly(source, frame.json.data(), frame.json.size())) {
    frame.json.clear();
    frame.status = FrameStatus::Truncated;
    return frame;
  }
  frame.status = FrameStatus::Message;
  return frame;
}

std::optional<std::string> FrameOf(std::string_view json, std::size_t limit) {
  if (json.size() > limit || json.size() > UINT32_MAX) return std::nullopt;
  const auto length = static_cast<std::uint32_t>(json.size());
  std::string frame;
  frame.reserve(4 + json.size());
  for (int shift = 0; shift < 32; shift += 8) {
    frame.push_back(static_cast<char>((length >> shift) & 0xFF));
  }
  frame.append(json);
  return frame;
}

}  // namespace qardex::messaging
