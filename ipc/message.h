// The messages the service and its per-session worker exchange over their pipe. A pure codec:
// bytes in, messages out, every length checked before it is read. Both sides treat a message
// that does not decode as the end of the other side (the worker exits; the service ends that
// worker and never itself).
//
// On the pipe each message is one frame: its payload length as 4 bytes little-endian, then the
// payload. A payload is one type byte (a message's position in Message counted from 1: Hello 1 to
// Cancel 10) followed by the type's fields, in the order declared below; std::string fields are
// names:
//   u8, u32, u64, i32  little-endian integers of that width
//   text               u32 count of UTF-16 units, then the units little-endian (lone surrogates
//                      cross unchanged)
//   name               u8 count of bytes (printable ASCII, at most kMaxNameBytes), then the bytes
//   value              u8 kind (1 text, 2 number), then a text or an i32
//   values             u8 count (at most kMaxArguments), then the values
// Nothing may follow the last field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qardex::ipc {

// Largest payload either side sends or accepts. A call's argument and a result are a few
// hundred units at most; this leaves room and still bounds what one side makes the other hold.
inline constexpr std::size_t kMaxPayloadBytes = 64 * 1024;
inline constexpr std::size_t kFrameHeaderBytes = 4;
inline constexpr std::size_t kMaxArguments = 4;
inline constexpr std::size_t kMaxNameBytes = 64;

struct Value {
  enum class Kind : std::uint8_t { Text = 1, Number = 2 };
  Kind kind = Kind::Text;
  std::u16string text;
  std::int32_t number = 0;

  static Value Text(std::u16string value) { return {Kind::Text, std::move(value), 0}; }
  static Value Number(std::int32_t value) { return {Kind::Number, {}, value}; }
  bool operator==(const Value& other) const {
    return kind == other.kind && text == other.text && number == other.number;
  }
};

// Worker -> service, the first message after the worker opened the pipe.
struct Hello {
  std::uint32_t processId = 0;
  bool operator==(const Hello& other) const { return processId == other.processId; }
};

// Service -> worker: make an engine session under this number (seeded as a new control is).
// No answer; a call for a number the worker does not know is answered with Failed.
struct OpenSession {
  std::uint64_t session = 0;
  bool operator==(const OpenSession& other) const { return session == other.session; }
};

// Service -> worker: forget that session. No answer.
struct CloseSession {
  std::uint64_t session = 0;
  bool operator==(const CloseSession& other) const { return session == other.session; }
};

// Service -> worker: run one of the twelve methods in a session.
struct Call {
  std::uint32_t callId = 0;
  std::uint64_t session = 0;
  std::string method;  // the control's method name, e.g. "GetBasic"
  std::vector<Value> args;
  bool operator==(const Call& other) const {
    return callId == other.callId && session == other.session && method == other.method &&
           args == other.args;
  }
};

// Worker -> service: the method's result and the session's lastError after it.
struct Result {
  std::uint32_t callId = 0;
  Value result;
  std::int32_t lastError = 0;
  bool operator==(const Result& other) const {
    return callId == other.callId && result == other.result && lastError == other.lastError;
  }
};

// Worker -> service: the call did not run because the card stayed held by another call, or its
// session by the session's previous call, for the whole card wait; or because the worker already
// holds as many calls as it takes.
struct Busy {
  std::uint32_t callId = 0;
  bool operator==(const Busy& other) const { return callId == other.callId; }
};

// Worker -> service: the call did not run or did not finish (unknown session or method, wrong
// arguments, an internal failure). `reason` is a short English text for the service's log.
struct Failed {
  std::uint32_t callId = 0;
  std::string reason;
  bool operator==(const Failed& other) const {
    return callId == other.callId && reason == other.reason;
  }
};

// Service -> worker: watch the readers (someone wants their events) or stop watching. No answer;
// while watching, the worker sends ReaderEvents.
struct Watch {
  bool on = false;
  bool operator==(const Watch& other) const { return on == other.on; }
};

// Worker -> service: what changed at the readers. Carries no card data. After a Watch on, the
// worker first reports what is there (a ReaderAdded per reader, a CardInserted per card), then
// Synced, then changes as they happen. `index` is the reader's position in PC/SC's reader list
// (as GetHCConnectNo numbers readers); `hc` whether an inserted card answered the HC
// application's SELECT. Fields: u8 kind, i32 index, u8 hc (0 or 1), text reader.
struct ReaderEvent {
  enum class Kind : std::uint8_t {
    ReaderAdded = 1,
    ReaderRemoved = 2,
    CardInserted = 3,
    CardRemoved = 4,
    Synced = 5,
  };
  Kind kind = Kind::Synced;
  std::int32_t index = -1;
  bool hc = false;
  std::u16string reader;
  bool operator==(const ReaderEvent& other) const {
    return kind == other.kind && index == other.index && hc == other.hc && reader == other.reader;
  }
};

// Service -> worker: the caller gave the call up. A call still waiting for its session's turn or
// for the card does not run and is answered Failed; a call already running goes on.
struct Cancel {
  std::uint32_t callId = 0;
  bool operator==(const Cancel& other) const { return callId == other.callId; }
};

using Message = std::variant<Hello, OpenSession, CloseSession, Call, Result, Busy, Failed, Watch,
                             ReaderEvent, Cancel>;

// The payload of a message (no frame header). Texts, names or argument lists beyond the limits
// above are the caller's fault: Encode then gives an empty string, which no side sends.
std::string Encode(const Message& message);

// The message in a payload, or nothing when the payload is not exactly one well-formed message
// within the limits above.
std::optional<Message> Decode(std::string_view payload);

// A payload with its frame header; empty when the payload is larger than kMaxPayloadBytes.
std::string Frame(std::string_view payload);

// Cuts a byte stream into payloads. Feed it what arrives; Next gives one payload at a time.
class FrameReader {
 public:
  enum class Status {
    NeedMore,  // no whole frame yet
    Ready,     // `payload` holds the next payload
    Oversized  // a frame header announced more than kMaxPayloadBytes: the stream is unusable
  };
  void Feed(std::string_view bytes);
  Status Next(std::string& payload);
  // Bytes held that do not form a whole frame yet.
  std::size_t Pending() const { return buffer_.size() - start_; }

 private:
  std::string buffer_;
  std::size_t start_ = 0;
  bool broken_ = false;
};

}  // namespace qardex::ipc
