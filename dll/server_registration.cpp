// DllRegisterServer and DllUnregisterServer: the class's registry entries
// from the script resource, and the type library from the TYPELIB resource.
#include <windows.h>
#include <oleauto.h>

#include <map>
#include <optional>
#include <string>

#include "com/com_ptr.h"
#include "com/module_state.h"
#include "common/text_conversion.h"
#include "control/method_guard.h"
#include "qardex_idl.h"
#include "registration/categories.h"
#include "registration/registry_editor_win.h"
#include "registration/registry_script.h"

namespace qardex::server {

namespace {

using registration::ApplyRegistration;
using registration::ApplyUnregistration;
using registration::ExpandScriptVariables;
using registration::ParseRegistryScript;
using registration::RegistryScript;

constexpr int kRegistryScriptId = 101;

std::optional<std::string> ScriptResource() {
  HRSRC resource =
      FindResourceW(com::ModuleInstance(), MAKEINTRESOURCEW(kRegistryScriptId), L"REGISTRY");
  if (!resource) return std::nullopt;
  HGLOBAL loaded = LoadResource(com::ModuleInstance(), resource);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) return std::nullopt;
  return std::string(static_cast<const char*>(bytes),
                     SizeofResource(com::ModuleInstance(), resource));
}

// The parsed script with %MODULE% set to this library's full path.
HRESULT LoadScript(RegistryScript& script) {
  const std::wstring modulePath = com::ModulePath();
  if (modulePath.empty()) return HRESULT_FROM_WIN32(::GetLastError());
  const std::optional<std::string> text = ScriptResource();
  if (!text) return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);
  const std::map<std::string, std::string> variables = {{"MODULE", common::WideToUtf8(modulePath)}};
  const std::optional<std::string> expanded = ExpandScriptVariables(*text, variables, nullptr);
  if (!expanded) return E_UNEXPECTED;
  std::optional<RegistryScript> parsed = ParseRegistryScript(*expanded, nullptr);
  if (!parsed) return E_UNEXPECTED;
  script = std::move(*parsed);
  return S_OK;
}

HRESULT FromStatus(std::int32_t status) {
  return status == 0 ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

// The help folder is the library's folder as Windows Installer names a folder, with its
// trailing backslash: the installer packages write it from the installation folder's property,
// so registration by regsvr32 and by the package leave the same value.
HRESULT RegisterTypeLibrary() {
  std::wstring path = com::ModulePath();
  com::ComPtr<ITypeLib> library;
  const HRESULT result = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Receive());
  if (FAILED(result)) return result;
  std::wstring folder = path.substr(0, path.find_last_of(L'\\') + 1);
  return RegisterTypeLib(library.get(), path.data(), folder.data());
}

bool TypeLibraryRegistered() {
  wchar_t libraryId[64] = {};
  StringFromGUID2(LIBID_QARDEXLib, libraryId, 64);
  const std::wstring path = std::wstring(L"TypeLib\\") + libraryId + L"\\1.0";
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

HRESULT UnregisterTypeLibrary() {
  // Nothing registered counts as done (platforms differ in what they report).
  if (!TypeLibraryRegistered()) return S_OK;
  return UnRegisterTypeLib(LIBID_QARDEXLib, 1, 0, 0, SYS_WIN64);
}

}  // namespace

}  // namespace qardex::server

// The class key is written before the safety categories are recorded under
// it: the script replaces that key whole, which would drop records made earlier.
extern "C" HRESULT WINAPI DllRegisterServer() {
  using namespace qardex::registration;
  using namespace qardex::server;
  return qardex::control::Guarded([] {
    RegistryScript script;
    HRESULT result = LoadScript(script);
    if (FAILED(result)) return result;
    result = FromStatus(ApplyRegistration(script, SystemRegistry()));
    if (FAILED(result)) return result;
    result = RegisterTypeLibrary();
    if (FAILED(result)) return result;
    return RegisterSafetyCategories();
  });
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
  using namespace qardex::registration;
  using namespace qardex::server;
  return qardex::control::Guarded([] {
    RegistryScript script;
    HRESULT result = LoadScript(script);
    if (FAILED(result)) return result;
    result = FromStatus(ApplyUnregistration(script, SystemRegistry()));
    const HRESULT typeLibrary = UnregisterTypeLibrary();
    return FAILED(result) ? result : typeLibrary;
  });
}
