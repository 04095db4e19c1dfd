#include "protocol/json_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace qardex::service {

namespace {

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  void SkipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }
  bool Take(char c) {
    SkipSpace();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool Peek(char c) {
    SkipSpace();
    return pos_ < text_.size() && text_[pos_] == c;
  }
  // A bare word such as true; not when more letters follow.
  bool TakeWord(std::string_view word) {
    SkipSpace();
    if (text_.substr(pos_, word.size()) != word) return false;
    const std::size_t after = pos_ + word.size();
    if (after < text_.size() && text_[after] >= 'a' && text_[after] <= 'z') return false;
    pos_ = after;
    return true;
  }
  bool AtEnd() {
    SkipSpace();
    return pos_ == text_.size();
  }

  std::optional<JsonValue> Value() {
    SkipSpace();
    if (pos_ >= text_.size()) return std::nullopt;
    if (text_[pos_] == '"') {
      std::optional<std::u16string> text = String();
      if (!text) return std::nullopt;
      return JsonValue::String(std::move(*text));
    }
    return Number();
  }

  std::optional<std::u16string> String() {
    if (!Take('"')) return std::nullopt;
    std::u16string out;
    while (pos_ < text_.size()) {
      const unsigned char c = static_cast<unsigned char>(text_[pos_]);
      if (c == '"') {
        ++pos_;
        return out;
      }
      if (c < 0x20) return std::nullopt;
      if (c == '\\') {
        if (!Escape(out)) return std::nullopt;
      } else if (c < 0x80) {
        out.push_back(c);
        ++pos_;
      } else if (!Utf8(out)) {
        return std::nullopt;
      }
    }
    return std::nullopt;
  }

 private:
  bool Escape(std::u16string& out) {
    if (pos_ + 1 >= text_.size()) return false;
    const char kind = text_[pos_ + 1];
    pos_ += 2;
    switch (kind) {
      case '"':
        out.push_back(u'"');
        return true;
      case '\\':
        out.push_back(u'\\');
        return true;
      case '/':
        out.push_back(u'/');
        return true;
      case 'b':
        out.push_back(u'\b');
        return true;
      case 'f':
        out.push_back(u'\f');
        return true;
      case 'n':
        out.push_back(u'\n');
        return true;
      case 'r':
        out.push_back(u'\r');
        return true;
      case 't':
        out.push_back(u'\t');
        return true;
      case 'u':
        break;
      default:
        return false;
    }
    if (pos_ + 4 > text_.size()) return false;
    char16_t unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = text_[pos_ + i];
      int digit;
      if (h >= '0' && h <= '9')
        digit = h - '0';
      else if (h >= 'a' && h <= 'f')
        digit = h - 'a' + 10;
      else if (h >= 'A' && h <= 'F')
        digit = h - 'A' + 10;
      else
        return false;
      unit = static_cast<char16_t>(unit * 16 + digit);
    }
    pos_ += 4;
    // Units are kept as written: a pair of escapes makes a surrogate pair, and a
    // lone surrogate stays what the page's string held.
    out.push_back(unit);
    return true;
  }

  // One UTF-8 sequence, strictly: no overlong forms, no encoded surrogates.
  bool Utf8(std::u16string& out) {
    const unsigned char lead = static_cast<unsigned char>(text_[pos_]);
    int length;
    char32_t point;
    char32_t least;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, point = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, point = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, point = lead & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (pos_ + length > text_.size()) return false;
    for (int i = 1; i < length; ++i) {
      const unsigned char next = static_cast<unsigned char>(text_[pos_ + i]);
      if ((next & 0xC0) != 0x80) return false;
      point = (point << 6) | (next & 0x3F);
    }
    if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
    pos_ += length;
    if (point >= 0x10000) {
      point -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (point >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(point));
    }
    return true;
  }

  // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
  std::optional<JsonValue> Number() {
    const std::size_t start = pos_;
    auto digits = [&] {
      const std::size_t from = pos_;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
      return pos_ - from;
    };
    if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '0') {
      ++pos_;
    } else if (digits() == 0) {
      return std::nullopt;
    }
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      if (digits() == 0) return std::nullopt;
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      if (digits() == 0) return std::nullopt;
    }
    double value = 0;
    const char* first = text_.data() + start;
    const char* last = text_.data() + pos_;
    const std::from_chars_result parsed = std::from_chars(first, last, value);
    if (parsed.ec != std::errc() || parsed.ptr != last || !std::isfinite(value)) {
      return std::nullopt;
    }
    return JsonValue::Number(value);
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

namespace {

std::optional<JsonMember> MemberValue(Reader& reader) {
  JsonMember member;
  for (const auto& [word, value] : {std::pair{"true", true}, std::pair{"false", false}}) {
    if (reader.TakeWord(word)) {
      member.kind = JsonMember::Kind::Boolean;
      member.boolean = value;
      return member;
    }
  }
  if (!reader.Take('[')) {
    std::optional<JsonValue> value = reader.Value();
    if (!value) return std::nullopt;
    member.value = std::move(*value);
    return member;
  }
  member.kind = JsonMember::Kind::List;
  if (reader.Take(']')) return member;
  do {
    std::optional<JsonValue> value = reader.Value();
    if (!value) return std::nullopt;
    member.list.push_back(std::move(*value));
  } while (reader.Take(','));
  if (!reader.Take(']')) return std::nullopt;
  return member;
}

}  // namespace

std::optional<JsonMembers> ReadFlatObject(std::string_view text) {
  Reader reader(text);
  if (!reader.Take('{')) return std::nullopt;
  JsonMembers members;
  if (!reader.Take('}')) {
    do {
      if (!reader.Peek('"')) return std::nullopt;
      const std::optional<std::u16string> key = reader.String();
      if (!key || !reader.Take(':')) return std::nullopt;
      std::string name;
      for (const char16_t unit : *key) {
        if (unit >= 0x80) return std::nullopt;
        name.push_back(static_cast<char>(unit));
      }
      std::optional<JsonMember> member = MemberValue(reader);
      if (!member || !members.emplace(std::move(name), std::move(*member)).second) {
        return std::nullopt;
      }
    } while (reader.Take(','));
    if (!reader.Take('}')) return std::nullopt;
  }
  if (!reader.AtEnd()) return std::nullopt;
  return members;
}

std::optional<std::vector<JsonValue>> ReadArgs(std::string_view body) {
  std::optional<JsonMembers> members = ReadFlatObject(body);
  if (!members || members->size() != 1) return std::nullopt;
  const auto args = members->find("args");
  if (args == members->end() || args->second.kind != JsonMember::Kind::List) return std::nullopt;
  return std::move(args->second.list);
}

void AppendJsonString(std::string& out, std::u16string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  for (const char16_t unit : text) {
    if (unit == u'"' || unit == u'\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(unit));
    } else if (unit >= 0x20 && unit < 0x7F) {
      out.push_back(static_cast<char>(unit));
    } else {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(unit >> shift) & 0xF]);
    }
  }
  out.push_back('"');
}

void AppendJsonValue(std::string& out, const JsonValue& value) {
  if (value.kind == JsonValue::Kind::String) {
    AppendJsonString(out, value.text);
    return;
  }
  char buffer[32];
  const double number = std::isfinite(value.number) ? value.number : 0;
  if (std::trunc(number) == number && std::fabs(number) < 9007199254740992.0) {
    std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(number));
  } else {
    std::snprintf(buffer, sizeof buffer, "%.17g", number);
  }
  out += buffer;
}

std::string JsonObject(std::string_view name, const JsonValue& value) {
  std::string out = "{";
  AppendJsonString(out, std::u16string(name.begin(), name.end()));
  out.push_back(':');
  AppendJsonValue(out, value);
  out.push_back('}');
  return out;
}

}  // namespace qardex::service
