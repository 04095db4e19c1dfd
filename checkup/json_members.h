// The text members of a JSON object, for the set-up check's reading of files and policies that
// browsers read (a native host's manifest, Firefox's ExtensionSettings): any JSON is walked, and
// only the members that are strings or lists of strings are kept, as UTF-8.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qardex::checkup {

struct TextMembers {
  std::map<std::string, std::string, std::less<>> strings;
  std::map<std::string, std::vector<std::string>, std::less<>> lists;  // the lists' strings
};

// nullopt when `json` is not one JSON object (trailing bytes, bad escapes, nesting beyond 32
// levels included).
std::optional<TextMembers> ReadTextMembers(std::string_view json);

// The object `name` of the JSON object `json`.
struct MemberObject {
  bool valid = false;                 // `json` is one JSON object
  std::optional<TextMembers> object;  // the member, when it is there and an object
};
MemberObject ReadMemberObject(std::string_view json, std::string_view name);

}  // namespace qardex::checkup
