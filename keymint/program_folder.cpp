#include "keymint/program_folder.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <string>
#include <system_error>

#include "keymint/mint_error.h"

namespace qardex::keymint {

std::filesystem::path ProgramFolder() {
#ifdef _WIN32
  // Longest path the system hands out, the "\\?\" form included.
  constexpr DWORD kLongestPath = 32768;
  std::wstring path(kLongestPath, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), kLongestPath);
  if (length == 0 || length >= kLongestPath) {
    throw MintError("cannot find the program's own path (error " + std::to_string(GetLastError()) +
                    ")");
  }
  path.resize(length);
  const std::filesystem::path program(path);
#else
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) throw MintError("cannot find the program's own path: " + error.message());
#endif
  return program.parent_path();
}

}  // namespace qardex::keymint
