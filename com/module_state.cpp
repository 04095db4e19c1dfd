#include "com/module_state.h"

#include <atomic>
#include <mutex>

#include "com/com_ptr.h"
#include "qardex_idl.h"

namespace qardex::com {

namespace {
HINSTANCE moduleInstance = nullptr;
std::atomic<long> moduleLocks{0};

// Controls on different threads may ask at once; the first one loads.
std::mutex typeInfoMutex;
ComPtr<ITypeInfo> controlTypeInfo;
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

HRESULT ControlTypeInfo(ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  const std::lock_guard<std::mutex> lock(typeInfoMutex);
  if (!controlTypeInfo) {
    const std::wstring path = ModulePath();
    if (path.empty()) return HRESULT_FROM_WIN32(::GetLastError());
    ComPtr<ITypeLib> library;
    const HRESULT result = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Receive());
    if (FAILED(result)) return result;
    ComPtr<ITypeInfo> loaded;
    const HRESULT found = library->GetTypeInfoOfGuid(IID_ItwQARDEX, loaded.Receive());
    if (FAILED(found)) return found;
    controlTypeInfo = std::move(loaded);
  }
  controlTypeInfo->AddRef();
  *info = controlTypeInfo.get();
  return S_OK;
}

void ReleaseControlTypeInfo() {
  const std::lock_guard<std::mutex> lock(typeInfoMutex);
  controlTypeInfo.Reset();
}

void AbandonControlTypeInfo() {
  // Only this thread runs at the end of the process; no lock is taken.
  controlTypeInfo.Detach();
}

void LockModule() { ++moduleLocks; }
void UnlockModule() { --moduleLocks; }
long ModuleLockCount() { return moduleLocks.load(); }

}  // namespace qardex::com
