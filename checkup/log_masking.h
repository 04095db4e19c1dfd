// The daily log with everything the card or the authentication server said masked, for a
// support bundle. Each line of the log begins " YYYYMMDD hhmmss " and then the entry's text;
// the entries that carry a card answer, a server reply or a result are listed in one table in
// log_masking.cpp. Card fields keep their length and their first and last byte; the final
// reply keeps its head up to "OK" and nothing of its result.
#pragma once

#include <string>
#include <string_view>

namespace qardex::checkup {

std::string MaskDailyLog(std::string_view log);

}  // namespace qardex::checkup
