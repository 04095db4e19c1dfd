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
  frame.status = IsUtf8(frame.json) ? FrameStatus::Message : FrameStatus::NotUtf8;
  if (frame.status != FrameStatus::Message) frame.json.clear();
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

bool IsUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    std::uint32_t point = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2;
      point = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      point = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      point = lead & 0x07;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = point << 6 | (next & 0x3F);
    }
    constexpr std::uint32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < kShortest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

}  // namespace qardex::messaging
