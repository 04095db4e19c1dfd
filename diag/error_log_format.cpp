#include "diag/error_log_format.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qardex::diag {

namespace {
std::string TwoDigitTriple(const char* format, int a, int b, int c) {
  char text[32] = {};
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}
}  // namespace

std::string DateText(const LocalStamp& stamp) {
  return TwoDigitTriple("%04d%02d%02d", stamp.year, stamp.month, stamp.day);
}

std::string TimeText(const LocalStamp& stamp) {
  return TwoDigitTriple("%02d%02d%02d", stamp.hour, stamp.minute, stamp.second);
}

std::optional<std::string> LogFilePath(const std::string& tempDirectory,
                                       const std::string& dateText) {
  std::string path = tempDirectory + "QARDEX.err." + dateText + ".log";
  if (path.size() > kLogPathLimit) return std::nullopt;
  return path;
}

std::string ErrorNumberText(int errorNumber) {
  if (errorNumber == 0) return "No error";
  const char* text = std::strerror(errorNumber);
  return text ? text : "";
}

std::string EntryText(const std::string& message, const char* errorText) {
  std::string text = message.substr(0, kEntryTextLimit);
  if (text.size() < kEntryTextLimit) {
    text += ": ";
    text += errorText ? errorText : "";
    text.resize(std::min(text.size(), kEntryTextLimit));
  }
  return text;
}

std::string EntryLine(const std::string& dateText, const std::string& timeText,
                      const std::string& entryText) {
  return " " + dateText + " " + timeText + " " + entryText + "\n";
}

}  // namespace qardex::diag
