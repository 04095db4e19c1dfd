#include "messaging/native_frames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/fakes/piece_source.h"

namespace qardex::messaging {
namespace {

std::string Framed(std::string_view json) { return FrameOf(json).value(); }

TEST(NativeFrames, MessagesSurviveEveryWayOfSplittingTheInput) {
  const std::string stream = Framed(R"({"id":1,"ask":"version"})") + Framed("{}") +
                             Framed(u8"{\"name\":\"M\u00fcller \u20ac\"}");
  for (const std::size_t piece : {1, 2, 3, 5, 4096}) {
    testing::PieceSource source(stream, piece);
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
    testing::PieceSource source(c.bytes, 1);
    EXPECT_EQ(ReadFrame(source).status, c.status);
  }
  // The largest frame allowed is read; one byte more is refused before any of it is read.
  const std::string largest(kMaxIncomingFrame, ' ');
  testing::PieceSource source(Framed(largest), 65536);
  EXPECT_EQ(ReadFrame(source).json.size(), kMaxIncomingFrame);
  EXPECT_FALSE(FrameOf(std::string(kMaxOutgoingFrame + 1, ' ')).has_value());
}

}  // namespace
}  // namespace qardex::messaging
