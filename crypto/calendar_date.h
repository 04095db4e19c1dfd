// A calendar date as the keys use it, and the strict reading of "YYYYMMDD" text.
#pragma once

#include <optional>
#include <string_view>

namespace qardex::crypto {

struct CalendarDate {
  int year;   // 1 to 9999
  int month;  // 1 to 12
  int day;    // 1 to the length of the month (Gregorian leap years)
};

bool IsValidDate(const CalendarDate& date);

// Exactly eight decimal digits naming a valid date, otherwise nullopt.
std::optional<CalendarDate> ParseCompactDate(std::string_view text);

}  // namespace qardex::crypto
