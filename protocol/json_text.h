// The little JSON the local service speaks: a request body {"args":[...]} of
// strings and numbers, and answers made of strings and numbers. Strings are
// UTF-16 on our side so that whatever the page handed in, and whatever a method
// hands back, crosses unchanged (lone surrogates included).
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qardex::service {

struct JsonValue {
  enum class Kind { String, Number };
  Kind kind = Kind::String;
  std::u16string text;
  double number = 0;

  static JsonValue String(std::u16string value) { return {Kind::String, std::move(value), 0}; }
  static JsonValue Number(double value) { return {Kind::Number, {}, value}; }
};

// Reads a body of the form {"args":[v, ...]} where each v is a string or a
// number; whitespace is allowed between tokens. Anything else (another key,
// nesting, invalid UTF-8, a bad escape, trailing bytes) gives nothing.
std::optional<std::vector<JsonValue>> ReadArgs(std::string_view body);

// A member of a flat object: a string or a number, true or false, or a list of strings and
// numbers.
struct JsonMember {
  enum class Kind { Value, Boolean, List };
  Kind kind = Kind::Value;
  JsonValue value;              // Value
  bool boolean = false;         // Boolean
  std::vector<JsonValue> list;  // List
};
using JsonMembers = std::map<std::string, JsonMember, std::less<>>;

// Reads {"name": member, ...}: names in ASCII and each once, whitespace allowed between tokens.
// Anything else (nesting beyond a list, null, invalid UTF-8, a bad escape, trailing bytes) gives
// nothing.
std::optional<JsonMembers> ReadFlatObject(std::string_view text);

// Writes a string in pure ASCII: printable characters as they are, everything
// else as \uXXXX per UTF-16 unit, so any UTF-16 text comes back exactly from
// the page's JSON.parse.
void AppendJsonString(std::string& out, std::u16string_view text);
void AppendJsonValue(std::string& out, const JsonValue& value);

// {"name":value} with one member.
std::string JsonObject(std::string_view name, const JsonValue& value);

}  // namespace qardex::service
