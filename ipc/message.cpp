#include "ipc/message.h"

#include <type_traits>

namespace qardex::ipc {

namespace {

// The type byte of each message: its position in Message, counted from 1.
template <typename T, std::size_t index = 0>
constexpr std::uint8_t TypeOf() {
  static_assert(index < std::variant_size_v<Message>, "not a message type");
  if constexpr (std::is_same_v<T, std::variant_alternative_t<index, Message>>) {
    return static_cast<std::uint8_t>(index + 1);
  } else {
    return TypeOf<T, index + 1>();
  }
}

bool IsNameByte(char c) { return c >= 0x20 && c <= 0x7E; }

bool IsName(std::string_view name) {
  if (name.size() > kMaxNameBytes) return false;
  for (char c : name) {
    if (!IsNameByte(c)) return false;
  }
  return true;
}

class Writer {
 public:
  template <typename Int>
  void Integer(Int value) {
    using Unsigned = std::make_unsigned_t<Int>;
    auto bits = static_cast<Unsigned>(value);
    for (std::size_t i = 0; i < sizeof(Int); ++i) {
      out_.push_back(static_cast<char>(bits & 0xFF));
      bits = static_cast<Unsigned>(bits >> 8);
    }
  }
  void Text(const std::u16string& text) {
    if (text.size() > kMaxPayloadBytes / 2) return Fail();
    Integer(static_cast<std::uint32_t>(text.size()));
    for (char16_t unit : text) Integer(static_cast<std::uint16_t>(unit));
  }
  void Name(const std::string& name) {
    if (!IsName(name)) return Fail();
    Integer(static_cast<std::uint8_t>(name.size()));
    out_ += name;
  }
  void Item(const Value& value) {
    if (value.kind != Value::Kind::Text && value.kind != Value::Kind::Number) return Fail();
    Integer(static_cast<std::uint8_t>(value.kind));
    if (value.kind == Value::Kind::Text) {
      Text(value.text);
    } else {
      Integer(value.number);
    }
  }
  void Items(const std::vector<Value>& values) {
    if (values.size() > kMaxArguments) return Fail();
    Integer(static_cast<std::uint8_t>(values.size()));
    for (const Value& value : values) Item(value);
  }

  void Fields(const Hello& m) { Integer(m.processId); }
  void Fields(const OpenSession& m) { Integer(m.session); }
  void Fields(const CloseSession& m) { Integer(m.session); }
  void Fields(const Call& m) {
    Integer(m.callId);
    Integer(m.session);
    Name(m.method);
    Items(m.args);
  }
  void Fields(const Result& m) {
    Integer(m.callId);
    Item(m.result);
    Integer(m.lastError);
  }
  void Fields(const Busy& m) { Integer(m.callId); }
  void Fields(const Failed& m) {
    Integer(m.callId);
    Name(m.reason);
  }
  void Fields(const Watch& m) { Integer(static_cast<std::uint8_t>(m.on)); }
  void Fields(const Cancel& m) { Integer(m.callId); }
  void Fields(const ReaderEvent& m) {
    Integer(static_cast<std::uint8_t>(m.kind));
    Integer(m.index);
    Integer(static_cast<std::uint8_t>(m.hc));
    Text(m.reader);
  }

  std::string Take() { return failed_ || out_.size() > kMaxPayloadBytes ? std::string() : out_; }

 private:
  void Fail() { failed_ = true; }

  std::string out_;
  bool failed_ = false;
};

// Reads fields off the front of a payload. Every read checks the bytes left first; after the
// first failure every read fails.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {}

  template <typename Int>
  bool Integer(Int& value) {
    if (!Have(sizeof(Int))) return false;
    std::make_unsigned_t<Int> bits = 0;
    for (std::size_t i = sizeof(Int); i-- > 0;) {
      bits = static_cast<decltype(bits)>((bits << 8) | static_cast<unsigned char>(rest_[i]));
    }
    value = static_cast<Int>(bits);
    rest_.remove_prefix(sizeof(Int));
    return true;
  }
  bool Text(std::u16string& text) {
    std::uint32_t count = 0;
    if (!Integer(count) || count > rest_.size() / 2) return Stop();
    text.resize(count);
    for (char16_t& unit : text) {
      std::uint16_t bits = 0;
      Integer(bits);
      unit = static_cast<char16_t>(bits);
    }
    return true;
  }
  bool Name(std::string& name) {
    std::uint8_t count = 0;
    if (!Integer(count) || !Have(count)) return false;
    name.assign(rest_.substr(0, count));
    rest_.remove_prefix(count);
    return IsName(name) || Stop();
  }
  bool Item(Value& value) {
    std::uint8_t kind = 0;
    if (!Integer(kind)) return false;
    if (kind == static_cast<std::uint8_t>(Value::Kind::Text)) {
      value = Value::Text({});
      return Text(value.text);
    }
    if (kind == static_cast<std::uint8_t>(Value::Kind::Number)) {
      value = Value::Number(0);
      return Integer(value.number);
    }
    return Stop();
  }
  bool Items(std::vector<Value>& values) {
    std::uint8_t count = 0;
    if (!Integer(count) || count > kMaxArguments) return Stop();
    values.resize(count);
    for (Value& value : values) {
      if (!Item(value)) return false;
    }
    return true;
  }

  bool Fields(Hello& m) { return Integer(m.processId); }
  bool Fields(OpenSession& m) { return Integer(m.session); }
  bool Fields(CloseSession& m) { return Integer(m.session); }
  bool Fields(Call& m) {
    return Integer(m.callId) && Integer(m.session) && Name(m.method) && Items(m.args);
  }
  bool Fields(Result& m) { return Integer(m.callId) && Item(m.result) && Integer(m.lastError); }
  bool Fields(Busy& m) { return Integer(m.callId); }
  bool Fields(Failed& m) { return Integer(m.callId) && Name(m.reason); }
  bool Fields(Watch& m) { return Flag(m.on); }
  bool Fields(Cancel& m) { return Integer(m.callId); }
  bool Fields(ReaderEvent& m) {
    std::uint8_t kind = 0;
    if (!Integer(kind)) return false;
    if (kind < static_cast<std::uint8_t>(ReaderEvent::Kind::ReaderAdded) ||
        kind > static_cast<std::uint8_t>(ReaderEvent::Kind::Synced)) {
      return Stop();
    }
    m.kind = static_cast<ReaderEvent::Kind>(kind);
    return Integer(m.index) && Flag(m.hc) && Text(m.reader);
  }

  bool AtEnd() const { return !stopped_ && rest_.empty(); }

  // A u8 that must be 0 or 1.
  bool Flag(bool& flag) {
    std::uint8_t bits = 0;
    if (!Integer(bits) || bits > 1) return Stop();
    flag = bits == 1;
    return true;
  }

 private:
  bool Have(std::size_t count) { return (!stopped_ && rest_.size() >= count) || Stop(); }
  bool Stop() {
    stopped_ = true;
    return false;
  }

  std::string_view rest_;
  bool stopped_ = false;
};

template <typename T>
std::optional<Message> DecodeAs(Reader& reader) {
  T message;
  if (!reader.Fields(message) || !reader.AtEnd()) return std::nullopt;
  return Message(std::move(message));
}

template <std::size_t index = 0>
std::optional<Message> DecodeType(std::uint8_t type, Reader& reader) {
  if constexpr (index == std::variant_size_v<Message>) {
    return std::nullopt;
  } else {
    using T = std::variant_alternative_t<index, Message>;
    if (type == TypeOf<T>()) return DecodeAs<T>(reader);
    return DecodeType<index + 1>(type, reader);
  }
}

std::uint32_t LengthIn(std::string_view header) {
  std::uint32_t length = 0;
  Reader(header).Integer(length);
  return length;
}

}  // namespace

std::string Encode(const Message& message) {
  Writer writer;
  std::visit(
      [&writer](const auto& m) {
        writer.Integer(TypeOf<std::decay_t<decltype(m)>>());
        writer.Fields(m);
      },
      message);
  return writer.Take();
}

std::optional<Message> Decode(std::string_view payload) {
  if (payload.size() > kMaxPayloadBytes) return std::nullopt;
  Reader reader(payload);
  std::uint8_t type = 0;
  if (!reader.Integer(type)) return std::nullopt;
  return DecodeType(type, reader);
}

std::string Frame(std::string_view payload) {
  if (payload.size() > kMaxPayloadBytes) return {};
  Writer header;
  header.Integer(static_cast<std::uint32_t>(payload.size()));
  std::string frame = header.Take();
  frame.append(payload);
  return frame;
}

void FrameReader::Feed(std::string_view bytes) {
  if (broken_) return;
  // What Next consumed goes first, so the buffer holds only bytes not yet handed out.
  buffer_.erase(0, start_);
  start_ = 0;
  buffer_.append(bytes);
}

FrameReader::Status FrameReader::Next(std::string& payload) {
  if (broken_) return Status::Oversized;
  if (Pending() < kFrameHeaderBytes) return Status::NeedMore;
  const std::uint32_t length =
      LengthIn(std::string_view(buffer_).substr(start_, kFrameHeaderBytes));
  if (length > kMaxPayloadBytes) {
    broken_ = true;
    std::string().swap(buffer_);
    start_ = 0;
    return Status::Oversized;
  }
  if (Pending() - kFrameHeaderBytes < length) return Status::NeedMore;
  payload.assign(buffer_, start_ + kFrameHeaderBytes, length);
  start_ += kFrameHeaderBytes + length;
  if (start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  }
  return Status::Ready;
}

}  // namespace qardex::ipc
