#include "diag/error_log.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "diag/log_file_lock.h"
#include "diag/temp_directory.h"

namespace qardex::diag {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Formats with a 256-byte limit; only the first 256 bytes of a longer message survive.
std::string FormatEntryMessage(const char* format, va_list args) {
  char text[kEntryTextLimit + 1] = {};
  va_list copy;
  va_copy(copy, args);
  const int written = std::vsnprintf(text, sizeof text, format ? format : "", copy);
  va_end(copy);
  if (written < 0) return {};
  return text;  // vsnprintf keeps at most 256 bytes here
}

}  // namespace

LocalStamp CurrentLocalStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  return LocalStamp{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                    local.tm_hour,        local.tm_min,     local.tm_sec};
}

int AppendErrorLogAt(const LocalStamp& stamp, const char* format, va_list args) {
  try {
    const std::optional<std::string> tempDirectory = TempDirectory();
    if (!tempDirectory) return 0;
    const std::string date = DateText(stamp);
    const std::optional<std::string> path = LogFilePath(*tempDirectory, date);
    if (!path) return 0;  // an over-long folder drops the entry

    const int callerErrorNumber = errno;
    const LogFileLock lock;
    errno = callerErrorNumber;  // the entry reports the caller's errno, not the lock's
    File file(std::fopen(path->c_str(), "ab"));
    if (!file) return 0;
    const int errorNumber = errno;

    const std::string entry =
        EntryText(FormatEntryMessage(format, args), ErrorNumberText(errorNumber).c_str());
    const std::string line = EntryLine(date, TimeText(stamp), entry);
    // Closing the file (below) writes the line out; no flush of its own is needed.
    std::fwrite(line.data(), 1, line.size(), file.get());
  } catch (...) {
    // Logging never disturbs the caller, not even when memory runs out.
  }
  return 0;
}

int AppendErrorLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendErrorLogAt(CurrentLocalStamp(), format, args);
  va_end(args);
  return 0;
}

}  // namespace qardex::diag
