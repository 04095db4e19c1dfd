#include "setup/browser_root_win.h"

#include <windows.h>

#include <system_error>

#include "common/win_handles.h"
#include "setup/install_layout.h"
#include "setup/root_store_win.h"

namespace qardex::setup {

namespace fs = std::filesystem;

std::optional<std::string> PlaceBrowserRoot(std::string_view folder, const std::string& pemText) {
  const std::optional<BrowserRoot> root = RootForBrowsers(pemText);
  if (!root) return std::nullopt;
  const std::string name = BrowserRootNameFor(root->serial);
  const std::string path = std::string(folder) + '\\' + BrowserRootCopyFor(root->serial);
  if (path.size() > kPathLimit) return std::nullopt;
  const common::KernelHandle file = common::AdoptFileHandle(CreateFileA(
      path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (!file ||
      !WriteFile(file.get(), root->pem.data(), static_cast<DWORD>(root->pem.size()), &written,
                 nullptr) ||
      written != root->pem.size()) {
    return std::nullopt;
  }
  RemoveOtherBrowserRoots(fs::path(std::string(folder)), name);
  return name;
}

void RemoveOtherBrowserRoots(const fs::path& folder, const std::string& keep) {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder / "certpem", error)) {
    const std::string name = entry.path().filename().u8string();
    if (name != keep && IsBrowserRootName(name)) fs::remove(entry.path(), error);
  }
}

}  // namespace qardex::setup
