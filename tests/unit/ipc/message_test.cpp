#include <gtest/gtest.h>

#include "ipc/message.h"

namespace qardex::ipc {
namespace {

// One of each type, with the edges of their fields: lone surrogates, empty texts and names, the
// most arguments, extreme numbers.
const Message kSamples[] = {
    Hello{0xFFFFFFFFu},
    OpenSession{0x0123456789ABCDEFull},
    CloseSession{0},
    Call{7, 1, "EnCrypt", {Value::Text(u"a\xD800z\xDFFF")}},
    Call{8,
         2,
         "",
         {Value::Text(u""), Value::Number(-1), Value::Number(INT32_MIN), Value::Text(u"~")}},
    Result{9, Value::Text(u"\xDC00"), -8013},
    Result{10, Value::Number(INT32_MAX), 0},
    Busy{11},
    Failed{12, std::string(kMaxNameBytes, '~')},
    Failed{13, ""},
    Watch{true},
    ReaderEvent{ReaderEvent::Kind::CardInserted, INT32_MIN, true, u"Name 00 01"},
    ReaderEvent{ReaderEvent::Kind::Synced, -1, false, u""},
    Cancel{0xFEDCBA98u},
};

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int value : values) bytes.push_back(static_cast<char>(value));
  return bytes;
}

TEST(IpcMessage, EveryTypeCrossesUnchanged) {
  for (const Message& sample : kSamples) {
    const std::string payload = Encode(sample);
    ASSERT_FALSE(payload.empty()) << sample.index();
    EXPECT_EQ(Decode(payload), std::optional<Message>(sample)) << sample.index();
  }
  // The documented layout: type, u32 call, u64 session, name, values (kind, u32 units, units).
  EXPECT_EQ(
      Encode(Call{0x01020304, 5, "Go", {Value::Text(u"\x4142")}}),
      Bytes({4, 4, 3, 2, 1, 5, 0, 0, 0, 0, 0, 0, 0, 2, 'G', 'o', 1, 1, 1, 0, 0, 0, 0x42, 0x41}));
  EXPECT_EQ(Encode(Result{1, Value::Number(-2), 3}),
            Bytes({5, 1, 0, 0, 0, 2, 0xFE, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0}));
}

TEST(IpcMessage, DecodeRefusesAnythingButOneWholeMessage) {
  for (const Message& sample : kSamples) {
    const std::string payload = Encode(sample);
    for (std::size_t length = 0; length < payload.size(); ++length) {
      EXPECT_FALSE(Decode(payload.substr(0, length))) << sample.index() << " cut at " << length;
    }
    EXPECT_FALSE(Decode(payload + '\0')) << sample.index();
  }
  const std::string call = Bytes({4, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0});  // up to the name
  const std::string text = Bytes({1, 1, 0, 0, 0, 'x', 0});
  const struct {
    std::string payload;
    const char* what;
  } refused[] = {
      {Bytes({0, 0, 0, 0, 0}), "type 0"},
      {Bytes({11, 0, 0, 0, 0}), "type 11"},
      {Bytes({8, 2}), "watch flag 2"},
      {Bytes({9, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0}), "event kind 6"},
      {Bytes({9, 3, 0, 0, 0, 0, 2, 0, 0, 0, 0}), "event hc flag 2"},
      {call + Bytes({1, 'A', 1, 3, 0, 0, 0, 0}), "value kind 3"},
      {call + Bytes({1, 'A', 5}) + text + text + text + text + text, "five arguments"},
      {call + Bytes({1, 'A', 1, 1, 0xFF, 0xFF, 0xFF, 0xFF, 'x', 0}), "text count beyond the end"},
      {call + Bytes({1, 'A', 1, 1, 2, 0, 0, 0, 'x', 0}), "text count one unit too many"},
      {call + Bytes({1, 0x7F, 0}), "name byte 127"},
      {call + Bytes({1, '\n', 0}), "name byte 10"},
      {call + Bytes({1, 0x80, 0}), "name byte 128"},
      {call + Bytes({65}) + std::string(65, 'A') + Bytes({0}), "name of 65 bytes"},
      {Bytes({5, 1, 0, 0, 0, 1, 0xFA, 0x7F, 0, 0}) + std::string(0x7FFA * 2 + 4, '\0'),
       "result two bytes over the limit"},
  };
  for (const auto& c : refused) EXPECT_FALSE(Decode(c.payload)) << c.what;
}

TEST(IpcMessage, EncodeAndFrameRefuseWhatOversteps) {
  const Value text = Value::Text(u"x");
  EXPECT_EQ(Encode(Call{1, 1, std::string(kMaxNameBytes + 1, 'A'), {}}), "");
  EXPECT_EQ(Encode(Failed{1, "tab\there"}), "");
  EXPECT_EQ(Encode(Call{1, 1, "A", std::vector<Value>(kMaxArguments + 1, text)}), "");
  EXPECT_EQ(Encode(Result{1, Value::Text(std::u16string(kMaxPayloadBytes / 2, u'x')), 0}), "");
  EXPECT_EQ(Frame(std::string(kMaxPayloadBytes + 1, 'x')), "");
}

TEST(IpcFrameReader, CutsAStreamSplitAnywhere) {
  std::vector<std::string> payloads{""};
  std::string stream = Frame("");
  for (const Message& sample : kSamples) {
    payloads.push_back(Encode(sample));
    stream += Frame(payloads.back());
  }
  for (std::size_t split = 0; split <= stream.size(); ++split) {
    FrameReader reader;
    std::vector<std::string> got;
    std::string payload;
    for (std::string_view piece :
         {std::string_view(stream).substr(0, split), std::string_view(stream).substr(split)}) {
      reader.Feed(piece);
      while (reader.Next(payload) == FrameReader::Status::Ready) got.push_back(payload);
      ASSERT_LT(reader.Pending(), kFrameHeaderBytes + kMaxPayloadBytes);
    }
    EXPECT_EQ(got, payloads) << "split at " << split;
    EXPECT_EQ(reader.Pending(), 0u);
  }
}

TEST(IpcFrameReader, OversizedHeaderBreaksTheStreamForGood) {
  FrameReader reader;
  std::string payload;
  const std::string largest(kMaxPayloadBytes, 'L');
  reader.Feed(Frame(largest) + Bytes({1, 0, 1, 0}) + "rest");  // announces kMaxPayloadBytes + 1
  EXPECT_EQ(reader.Next(payload), FrameReader::Status::Ready);
  EXPECT_EQ(payload, largest);
  EXPECT_EQ(reader.Next(payload), FrameReader::Status::Oversized);
  reader.Feed(Frame("b"));
  EXPECT_EQ(reader.Next(payload), FrameReader::Status::Oversized);
  EXPECT_EQ(reader.Pending(), 0u);
}

}  // namespace
}  // namespace qardex::ipc
