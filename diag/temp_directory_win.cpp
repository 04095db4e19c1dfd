#include <windows.h>

#include "diag/temp_directory.h"

namespace qardex::diag {

std::optional<std::string> TempDirectory() {
  char buffer[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(MAX_PATH, buffer);
  if (length == 0 || length > MAX_PATH) return std::nullopt;
  return std::string(buffer, length);
}

}  // namespace qardex::diag
