#include "fuzz/support/quiet_log.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "diag/error_log.h"
#include "diag/error_log_format.h"

namespace qardex::fuzzing {

namespace {
// Removes the folder and its link when the process ends.
struct LogFolder {
  std::string folder;
  std::string link;
  ~LogFolder() {
    if (!link.empty()) unlink(link.c_str());
    if (!folder.empty()) rmdir(folder.c_str());
  }
};
LogFolder logFolder;
}  // namespace

void DiscardErrorLog() {
  char folder[] = "/tmp/qardex-fuzz-log.XXXXXX";
  if (mkdtemp(folder) == nullptr) return;
  setenv("TMPDIR", folder, 1);
  const std::string date = diag::DateText(diag::CurrentLocalStamp());
  const auto path = diag::LogFilePath(std::string(folder) + "/", date);
  logFolder.folder = folder;
  if (path && symlink("/dev/null", path->c_str()) == 0) logFolder.link = *path;
}

}  // namespace qardex::fuzzing

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qardex::fuzzing::DiscardErrorLog();
  return 0;
}
