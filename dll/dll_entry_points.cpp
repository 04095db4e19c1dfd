// Entry points of the in-process server: DllMain, DllCanUnloadNow and
// DllGetClassObject.
#include <windows.h>

#include "cloud/crypto_library.h"
#include "com/module_state.h"
#include "control/method_guard.h"
#include "qardex_idl.h"
#include "dll/class_factory.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    qardex::com::SetModuleInstance(instance);
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    // Unloaded while the process goes on: release libcrypto now, since it
    // registered no exit handler that could outlive this library, and the
    // shared type information.
    qardex::cloud::CleanupCryptoLibrary();
    qardex::com::ReleaseControlTypeInfo();
  } else if (reason == DLL_PROCESS_DETACH) {
    // The process ends: the type library's code may be gone already, so the
    // reference is left to the process's end rather than released.
    qardex::com::AbandonControlTypeInfo();
  }
  return TRUE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
  return qardex::control::Guarded(
      [] { return qardex::com::ModuleLockCount() == 0 ? S_OK : S_FALSE; });
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  return qardex::control::Guarded([&] {
    if (!IsEqualCLSID(clsid, CLSID_twQARDEX)) return CLASS_E_CLASSNOTAVAILABLE;
    return qardex::server::ControlClassFactory().QueryInterface(iid, object);
  });
}
