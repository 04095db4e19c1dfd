// Entry points of the in-process server: DllMain, DllCanUnloadNow and
// DllGetClassObject.
#include "com/module_state.h"

#include <atomic>

#include "cloud/crypto_library.h"
#include "server/class_factory.h"
#include "qardex_idl.h"

namespace qardex::registration {

namespace {
HINSTANCE moduleInstance = nullptr;
std::atomic<long> moduleLocks{0};
}  // namespace

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

}  // namespace qardex::registration

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    qardex::registration::moduleInstance = instance;
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    // Unloaded while the process goes on: release libcrypto now, since it
    // registered no exit handler that could outlive this library.
    qardex::cloud::CleanupCryptoLibrary();
  }
  return TRUE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
  return qardex::registration::ModuleLockCount() == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_twQARDEX)) return CLASS_E_CLASSNOTAVAILABLE;
  return qardex::registration::ControlClassFactory().QueryInterface(iid, object);
}
