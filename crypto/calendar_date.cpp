#include "crypto/calendar_date.h"

namespace qardex::crypto {

namespace {

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

bool IsValidDate(const CalendarDate& date) {
  return date.year >= 1 && date.year <= 9999 && date.month >= 1 && date.month <= 12 &&
         date.day >= 1 && date.day <= DaysInMonth(date.year, date.month);
}

std::optional<CalendarDate> ParseCompactDate(std::string_view text) {
  if (text.size() != 8) return std::nullopt;
  int digits[8];
  for (int i = 0; i < 8; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    digits[i] = text[i] - '0';
  }
  const CalendarDate date{digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3],
                          digits[4] * 10 + digits[5], digits[6] * 10 + digits[7]};
  if (!IsValidDate(date)) return std::nullopt;
  return date;
}

}  // namespace qardex::crypto
