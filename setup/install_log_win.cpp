#include "setup/install_log_win.h"

#include <windows.h>

#include "setup/log_file_win.h"
#include "setup/narrow_text_win.h"

namespace qardex::setup {

InstallLog::InstallLog(const std::string& path) {
  AppendLog log = OpenLogForAppend(ToWide(path));
  file_ = std::move(log.file);
  note_ = std::move(log.note);
}

void InstallLog::Write(const std::string& entry) {
  if (!file_) return;
  DWORD written = 0;
  WriteFile(file_.get(), entry.data(), static_cast<DWORD>(entry.size()), &written, nullptr);
}

LocalStamp LocalTimeNow() {
  SYSTEMTIME now = {};
  GetLocalTime(&now);
  return LocalStamp{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

}  // namespace qardex::setup
