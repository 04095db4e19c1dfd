#include "setup/dll_search_win.h"

#include <windows.h>

namespace qardex::setup {

void LoadDllsFromSystemFolderOnly() {
  using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
  // Looked up, not imported: a program that imports it does not start where it is missing.
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto setDefault = reinterpret_cast<SetDefaultDirectories>(reinterpret_cast<void*>(
      kernel != nullptr ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr));
  if (setDefault == nullptr || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");
}

}  // namespace qardex::setup
