#include "messaging/native_frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace qardex::messaging {
namespace {

// Hands out the bytes `piece` at a time, as a pipe may.
class Pieces final : public ByteSource {
 public:
  Pieces(std::string bytes, std::size_t piece) : bytes_(std::move(bytes)), piece_(piece) {}
  std::size_t Read(char* buffer, std::size_t capacity) override {
    const std::size_t count = std::min({piece_, capacity, bytes_.size() - at_});
    std::memcpy(buffer, bytes_.data() + at_, count);
    at_ += count;
    return count;
  }

 private:
  std::string bytes_;
  std::size_t piece_;
  std::size_t at_ = 0;
};

std::string Framed(std::string_view json) { return FrameOf(json).value(); }

TEST(NativeFrames, MessagesSurviveEveryWayOfSplittingTheInput) {
  const std::string stream = Framed(R"({"id":1,"ask":"version"})") + Framed("{}") +
                             Framed(u8"{\"name\":\"M\u00fcller \u20ac\"}");
  for (const std::size_t piece : {1, 2, 3, 5, 4096}) {
    Pieces source(stream, piece);
    std::vector<std::string> read;
    FrameRead frame;
    while ((frame = ReadFrame(source)).status == FrameStatus::Message) read.push_back(frame.json);
    EXPECT_EQ(frame.status, FrameStatus::End) << piece;
    EXPECT_EQ(read, (std::vector<std::string>{R"({"id":1,"ask":"version"})", "{}",
                                              u8"{\"name\":\"M\u00fcller \u20ac\"}"}))
        << piece;
  }
}

TEST(NativeFrames, BrokenInputIsToldApartFromTheEnd) {
  const std::string whole = Framed(R"({"id":2})");
  const struct {
    std::string bytes;
    FrameStatus status;
  } cases[] = {
      {whole.substr(0, 2), FrameStatus::Truncated},                       // inside the length
      {whole.substr(0, whole.size() - 1), FrameStatus::Truncated},        // inside the message
      {std::string("\x01\x00\x10\x00", 4) + "{", FrameStatus::TooLarge},  // 1 MiB + 1
  };
  for (const auto& c : cases) {
    Pieces source(c.bytes, 1);
    EXPECT_EQ(ReadFrame(source).status, c.status);
  }
  // The largest frame allowed is read; one byte more is refused before any of it is read.
  const std::string largest(kMaxIncomingFrame, ' ');
  Pieces source(Framed(largest), 65536);
  EXPECT_EQ(ReadFrame(source).json.size(), kMaxIncomingFrame);
  EXPECT_FALSE(FrameOf(std::string(kMaxOutgoingFrame + 1, ' ')).has_value());
}

}  // namespace
}  // namespace qardex::messaging
