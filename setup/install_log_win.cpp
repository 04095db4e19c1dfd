#include "setup/install_log_win.h"

#include <windows.h>

namespace qardex::setup {

// "N": programs the installer starts do not inherit the log.
InstallLog::InstallLog(const std::string& path) : file_(std::fopen(path.c_str(), "abN")) {}

void InstallLog::Write(const std::string& entry) {
  if (!file_) return;
  std::fwrite(entry.data(), 1, entry.size(), file_.get());
  std::fflush(file_.get());
}

LocalStamp LocalTimeNow() {
  SYSTEMTIME now = {};
  GetLocalTime(&now);
  return LocalStamp{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

}  // namespace qardex::setup
