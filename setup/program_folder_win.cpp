#include "setup/program_folder_win.h"

#include <windows.h>

#include "setup/narrow_text_win.h"

namespace qardex::setup {

namespace {
// Longest path the system hands out, with the "\\?\" form included.
constexpr DWORD kLongestPath = 32768;
}  // namespace

std::optional<std::string> InstallationFolder(const LineSink& console) {
  std::wstring path(kLongestPath, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), kLongestPath);
  if (length == 0 || length >= kLongestPath) {
    console(Format(text::kFolderUnknown, static_cast<int>(GetLastError())));
    return std::nullopt;
  }
  path.resize(length);
  const std::size_t separator = path.find_last_of(L'\\');
  if (separator == std::wstring::npos) {
    console(Format(text::kFolderUnknown, static_cast<int>(ERROR_BAD_PATHNAME)));
    return std::nullopt;
  }
  path.resize(separator);
  std::optional<std::string> narrow = ToNarrow(path);
  if (!narrow) console(text::kFolderNotNarrow);
  return narrow;
}

std::optional<std::wstring> SystemFolderWide() {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::nullopt;
  return std::wstring(folder, length);
}

std::optional<std::string> SystemFolder(const LineSink& console) {
  const std::optional<std::wstring> folder = SystemFolderWide();
  if (!folder) {
    console(Format(text::kSystemFolderUnknown, static_cast<int>(GetLastError())));
    return std::nullopt;
  }
  std::optional<std::string> narrow = ToNarrow(*folder);
  if (!narrow)
    console(Format(text::kSystemFolderUnknown, static_cast<int>(ERROR_NO_UNICODE_TRANSLATION)));
  return narrow;
}

}  // namespace qardex::setup
