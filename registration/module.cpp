// Entry points of the in-process server: DllMain, DllCanUnloadNow and
// DllGetClassObject.
#include "registration/module.h"

#include <atomic>
#include <mutex>

#include "cloud/crypto_library.h"
#include "control/com_ptr.h"
#include "control/method_guard.h"
#include "registration/class_factory.h"
#include "qardex_idl.h"

namespace qardex::registration {

namespace {
HINSTANCE moduleInstance = nullptr;
std::atomic<long> moduleLocks{0};

// Controls on different threads may ask at once; the first one loads.
std::mutex typeInfoMutex;
com::ComPtr<ITypeInfo> controlTypeInfo;
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

HRESULT ControlTypeInfo(ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  const std::lock_guard<std::mutex> lock(typeInfoMutex);
  if (!controlTypeInfo) {
    const std::wstring path = ModulePath();
    if (path.empty()) return HRESULT_FROM_WIN32(::GetLastError());
    com::ComPtr<ITypeLib> library;
    const HRESULT result = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Receive());
    if (FAILED(result)) return result;
    com::ComPtr<ITypeInfo> loaded;
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

}  // namespace qardex::registration

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    qardex::registration::moduleInstance = instance;
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    // Unloaded while the process goes on: release libcrypto now, since it
    // registered no exit handler that could outlive this library, and the
    // shared type information.
    qardex::cloud::CleanupCryptoLibrary();
    qardex::registration::ReleaseControlTypeInfo();
  } else if (reason == DLL_PROCESS_DETACH) {
    // The process ends: the type library's code may be gone already, so the
    // reference is left to the process's end rather than released.
    qardex::registration::AbandonControlTypeInfo();
  }
  return TRUE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
  return qardex::control::Guarded(
      [] { return qardex::registration::ModuleLockCount() == 0 ? S_OK : S_FALSE; });
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  return qardex::control::Guarded([&] {
    if (!IsEqualCLSID(clsid, CLSID_twQARDEX)) return CLASS_E_CLASSNOTAVAILABLE;
    return qardex::registration::ControlClassFactory().QueryInterface(iid, object);
  });
}
