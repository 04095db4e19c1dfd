// The install log: opened for appending in raw mode at the start of a run and held until its
// end. A file that is not safely ours is moved aside first (setup/log_file_win.h); a log that
// cannot be opened is simply absent.
#pragma once

#include <string>

#include "setup/install_texts.h"
#include "common/win_handles.h"

namespace qardex::setup {

class InstallLog {
 public:
  explicit InstallLog(const std::string& path);
  void Write(const std::string& entry);
  void Close() { file_.reset(); }
  // What was found in the log's place and done about it; empty when nothing was wrong.
  const std::string& Note() const { return note_; }

 private:
  common::KernelHandle file_;
  std::string note_;
};

// The local date and time now.
LocalStamp LocalTimeNow();

}  // namespace qardex::setup
