// The install log: opened for appending in raw mode at the start of a run and held until its
// end. A log that cannot be opened is simply absent.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "setup/install_texts.h"

namespace qardex::setup {

class InstallLog {
 public:
  explicit InstallLog(const std::string& path);
  void Write(const std::string& entry);
  void Close() { file_.reset(); }

 private:
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
};

// The local date and time now.
LocalStamp LocalTimeNow();

}  // namespace qardex::setup
