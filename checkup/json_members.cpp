#include "checkup/json_members.h"

#include <cstdint>

namespace qardex::checkup {

namespace {

constexpr int kDeepest = 32;

void AppendUtf8(std::string& out, std::uint32_t point) {
  if (point < 0x80) {
    out += static_cast<char>(point);
  } else if (point < 0x800) {
    out += static_cast<char>(0xC0 | (point >> 6));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else if (point < 0x10000) {
    out += static_cast<char>(0xE0 | (point >> 12));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (point >> 18));
    out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  }
}

// A walk over one JSON text; every step says whether the text had the expected form.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}

  void Space() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }
  bool Take(char c) {
    Space();
    if (at_ >= text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }
  bool Next(char c) {
    Space();
    return at_ < text_.size() && text_[at_] == c;
  }
  bool AtEnd() {
    Space();
    return at_ == text_.size();
  }

  std::optional<std::string> String() {
    if (!Take('"')) return std::nullopt;
    std::string out;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= text_.size()) return std::nullopt;
      const char escape = text_[at_++];
      switch (escape) {
        case '"':
        case '\\':
        case '/':
          out += escape;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          const std::optional<std::uint32_t> unit = Hex4();
          if (!unit) return std::nullopt;
          std::uint32_t point = *unit;
          if (point >= 0xD800 && point < 0xDC00 && text_.substr(at_, 2) == "\\u") {
            at_ += 2;
            const std::optional<std::uint32_t> low = Hex4();
            if (!low) return std::nullopt;
            if (*low >= 0xDC00 && *low < 0xE000) {
              point = 0x10000 + ((point - 0xD800) << 10) + (*low - 0xDC00);
            } else {
              AppendUtf8(out, point);
              point = *low;
            }
          }
          AppendUtf8(out, point);
          break;
        }
        default:
          return std::nullopt;
      }
    }
    return std::nullopt;
  }

  // Any value, passed over.
  bool Skip(int depth) {
    if (depth > kDeepest) return false;
    Space();
    if (Next('"')) return String().has_value();
    if (Next('{'))
      return Members(depth, [this, depth](const std::string&) { return Skip(depth + 1); });
    if (Take('[')) {
      if (Take(']')) return true;
      do {
        if (!Skip(depth + 1)) return false;
      } while (Take(','));
      return Take(']');
    }
    const std::size_t start = at_;
    while (at_ < text_.size() &&
           std::string_view("+-.0123456789Eaeflnrstu").find(text_[at_]) != std::string_view::npos) {
      ++at_;
    }
    const std::string_view word = text_.substr(start, at_ - start);
    return word == "true" || word == "false" || word == "null" ||
           (!word.empty() && word.find_first_of("alnrstu") == std::string_view::npos);
  }

  // An object, each member's value handed to `value` (which consumes it).
  template <class Value>
  bool Members(int depth, const Value& value) {
    if (depth > kDeepest || !Take('{')) return false;
    if (Take('}')) return true;
    do {
      const std::optional<std::string> name = String();
      if (!name || !Take(':') || !value(*name)) return false;
    } while (Take(','));
    return Take('}');
  }

  // The value of one member into `into`: strings and lists of strings kept, the rest passed over.
  bool Member(const std::string& name, TextMembers& into, int depth) {
    if (Next('"')) {
      std::optional<std::string> text = String();
      if (text) into.strings[name] = std::move(*text);
      return text.has_value();
    }
    if (!Next('[')) return Skip(depth);
    const std::size_t start = at_;
    Take('[');
    std::vector<std::string> items;
    bool strings = true;
    if (!Take(']')) {
      do {
        std::optional<std::string> item = Next('"') ? String() : std::nullopt;
        if (!item) {
          strings = false;
          break;
        }
        items.push_back(std::move(*item));
      } while (Take(','));
      strings = strings && Take(']');
    }
    if (strings) {
      into.lists[name] = std::move(items);
      return true;
    }
    at_ = start;
    return Skip(depth);
  }

  bool Object(TextMembers& into, int depth) {
    return Members(depth, [&](const std::string& name) { return Member(name, into, depth + 1); });
  }

 private:
  std::optional<std::uint32_t> Hex4() {
    if (at_ + 4 > text_.size()) return std::nullopt;
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      const std::size_t digit =
          std::string_view("0123456789abcdef")
              .find(static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c));
      if (digit == std::string_view::npos) return std::nullopt;
      value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return value;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

std::optional<TextMembers> ReadTextMembers(std::string_view json) {
  Cursor cursor(json);
  TextMembers members;
  if (!cursor.Object(members, 0) || !cursor.AtEnd()) return std::nullopt;
  return members;
}

MemberObject ReadMemberObject(std::string_view json, std::string_view name) {
  Cursor cursor(json);
  MemberObject result;
  const bool read = cursor.Members(0, [&](const std::string& member) {
    if (member != name || !cursor.Next('{')) return cursor.Skip(1);
    TextMembers object;
    if (!cursor.Object(object, 1)) return false;
    result.object = std::move(object);  // a name given twice: the last counts, as in JavaScript
    return true;
  });
  result.valid = read && cursor.AtEnd();
  if (!result.valid) result.object.reset();
  return result;
}

}  // namespace qardex::checkup
