// Pure formatting of the daily error log: file name, date and time texts,
// entry text with its error-number suffix, and the line written per entry.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace qardex::diag {

// Local calendar time of one entry, read once per entry.
struct LocalStamp {
  int year = 1970;
  int month = 1;  // 1-12
  int day = 1;    // 1-31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The message and its error-number suffix together never exceed this.
inline constexpr std::size_t kEntryTextLimit = 256;
// The whole log file path must fit a 256-byte buffer with its terminator.
inline constexpr std::size_t kLogPathLimit = 255;

std::string DateText(const LocalStamp& stamp);  // "YYYYMMDD"
std::string TimeText(const LocalStamp& stamp);  // "hhmmss"

// "<tempDir>QARDEX.err.<date>.log", or nothing when it would not fit.
std::optional<std::string> LogFilePath(const std::string& tempDirectory,
                                       const std::string& dateText);

// The runtime's text for an error number, except that 0 always reads
// "No error": runtimes disagree on it (some say "Success"), and the log
// should read the same on every one.
std::string ErrorNumberText(int errorNumber);

// The caller's formatted message followed by ": <errorText>", cut at 256
// bytes; a message of 256 bytes or more keeps no room for the suffix.
std::string EntryText(const std::string& message, const char* errorText);

// " <date> <time> <entry>\n": what one call appends to the file.
std::string EntryLine(const std::string& dateText, const std::string& timeText,
                      const std::string& entryText);

}  // namespace qardex::diag
