#include "com/module_state.h"

#include <atomic>

namespace qardex::com {

namespace {
HINSTANCE moduleInstance = nullptr;
std::atomic<long> moduleLocks{0};
}  // namespace

void SetModuleInstance(HINSTANCE instance) { moduleInstance = instance; }
HINSTANCE ModuleInstance() { return moduleInstance; }

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(moduleInstance, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);  // cut short: try a larger buffer
  }
}

void LockModule() { ++moduleLocks; }
void UnlockModule() { --moduleLocks; }
long ModuleLockCount() { return moduleLocks.load(); }

}  // namespace qardex::com
