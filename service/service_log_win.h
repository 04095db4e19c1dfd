// The service's log file, %ProgramData%\QARDEX\mQARDEXService.log: a folder only SYSTEM and
// Administrators may write to (users may read), one line per event with the local time, and
// older files .1 (newest) to .4 kept when the log grows past its bound.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

#include "protocol/service_log.h"
#include "common/win_handles.h"

namespace qardex::service {

inline constexpr std::uintmax_t kServiceLogRotateBytes = 1024 * 1024;
inline constexpr int kServiceLogGenerations = 4;

class FileServiceLog final : public ServiceLog {
 public:
  // `file` lies in a folder already made safe.
  explicit FileServiceLog(std::filesystem::path file);

 private:
  void Record(LogEvent kind, std::string_view event) override;
  bool Reopen();
  void RotateWhenFull();

  std::mutex lock_;
  const std::filesystem::path path_;
  common::KernelHandle file_;
};

// The service's log: the file and the Windows event log. When the file's folder cannot be made
// safe, the event log alone, and one line on standard error that says why.
std::unique_ptr<ServiceLog> OpenServiceLog();

// Where the log is, for those who read it; nothing when the ProgramData folder is unknown.
std::optional<std::filesystem::path> ServiceLogPath();

}  // namespace qardex::service
