// Connection scripts of the test peers: one mode per connection, written as
// "NAME,NAME*COUNT,..." (at most 10000 connections). Each peer turns a name
// into its own mode; this reads the list around them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testbed {

inline constexpr std::size_t kMaxScriptedConnections = 10000;

// A decimal number of 1 to 6 digits not above `max`, or nothing.
inline std::optional<long> ReadSmallNumber(std::string_view text, long max) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != text.npos) {
    return std::nullopt;
  }
  long value = 0;
  for (const char c : text) value = value * 10 + (c - '0');
  if (value > max) return std::nullopt;
  return value;
}

// `lookup(name, error)` gives the mode of one item (without its "*COUNT") or
// nothing with `error` set. The expanded list, or nothing with `error` set.
template <typename Mode, typename Lookup>
std::optional<std::vector<Mode>> ExpandModeList(std::string_view text, Lookup&& lookup,
                                                std::string* error) {
  std::vector<Mode> modes;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    std::string_view item = text.substr(0, comma);
    text = comma == text.npos ? std::string_view{} : text.substr(comma + 1);

    long count = 1;
    if (const std::size_t star = item.find('*'); star != item.npos) {
      const auto parsed = ReadSmallNumber(item.substr(star + 1), kMaxScriptedConnections);
      if (!parsed || *parsed < 1) {
        *error = "bad count in '" + std::string(item) + "'";
        return std::nullopt;
      }
      count = *parsed;
      item = item.substr(0, star);
    }
    const std::optional<Mode> mode = lookup(item, error);
    if (!mode) return std::nullopt;
    if (modes.size() + static_cast<std::size_t>(count) > kMaxScriptedConnections) {
      *error = "more than 10000 connections";
      return std::nullopt;
    }
    modes.insert(modes.end(), static_cast<std::size_t>(count), *mode);
  }
  if (modes.empty()) {
    *error = "no mode given";
    return std::nullopt;
  }
  return modes;
}

}  // namespace testbed
