#include <cstdlib>

#include "diag/temp_directory.h"

namespace qardex::diag {

// Native builds follow TMPDIR, so tests can point the log at a folder of theirs.
std::optional<std::string> TempDirectory() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = (dir && *dir) ? dir : "/tmp";
  if (path.back() != '/') path += '/';
  return path;
}

}  // namespace qardex::diag
