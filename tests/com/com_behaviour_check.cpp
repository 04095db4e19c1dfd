// Checks the in-process server's COM behaviour under Wine: class object,
// aggregation, module lock count, null out-parameters, the type library
// behind IDispatch, the site, and the registry entries of (un)registration.
//   com_behaviour_check.exe Z:\path\to\QARDEX.dll
#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>

#include <cstdio>
#include <string>

#include "com/com_ptr.h"
#include "qardex_idl.h"
#include "tests/com/com_check.h"

using qardex::com::Bstr;
using qardex::com::ComPtr;

namespace {

using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using NoArgumentFn = HRESULT(WINAPI*)();

struct Library {
  HMODULE module = nullptr;
  GetClassObjectFn getClassObject = nullptr;
  NoArgumentFn canUnloadNow = nullptr;
  NoArgumentFn registerServer = nullptr;
  NoArgumentFn unregisterServer = nullptr;
};

// A minimal outer object for aggregation: holds the inner unknown.
class Outer final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (IsEqualIID(iid, IID_IUnknown)) {
      *object = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    ++delegatedQueries;
    return inner ? inner->QueryInterface(iid, object) : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }

  ULONG references = 1;
  int delegatedQueries = 0;
  ComPtr<IUnknown> inner;
};

ComPtr<IClassFactory> Factory(const Library& library) {
  ComPtr<IClassFactory> factory;
  library.getClassObject(CLSID_twQARDEX, IID_IClassFactory, factory.ReceiveVoid());
  return factory;
}

void CheckClassObject(const Library& library) {
  void* object = reinterpret_cast<void*>(1);
  CHECK_HR(CLASS_E_CLASSNOTAVAILABLE,
           library.getClassObject(IID_IDispatch, IID_IClassFactory, &object));
  CHECK(object == nullptr);
  CHECK_HR(E_POINTER, library.getClassObject(CLSID_twQARDEX, IID_IClassFactory, nullptr));
  ComPtr<IClassFactory> first = Factory(library);
  ComPtr<IClassFactory> second = Factory(library);
  CHECK(first.get() != nullptr && first.get() == second.get());  // one cached factory
}

void CheckLifetimeAndLocks(const Library& library) {
  ComPtr<IClassFactory> factory = Factory(library);
  CHECK_HR(S_OK, library.canUnloadNow());
  {
    ComPtr<ItwQARDEX> control;
    CHECK_HR(S_OK, factory->CreateInstance(nullptr, IID_ItwQARDEX, control.ReceiveVoid()));
    CHECK_HR(S_FALSE, library.canUnloadNow());
    ComPtr<IDispatch> dispatch;
    CHECK_HR(S_OK, control->QueryInterface(IID_IDispatch, dispatch.ReceiveVoid()));
    ComPtr<IObjectWithSite> site;
    CHECK_HR(S_OK, control->QueryInterface(IID_IObjectWithSite, site.ReceiveVoid()));
    ComPtr<IUnknown> identity1;
    ComPtr<IUnknown> identity2;
    control->QueryInterface(IID_IUnknown, identity1.ReceiveVoid());
    site->QueryInterface(IID_IUnknown, identity2.ReceiveVoid());
    CHECK(identity1.get() == identity2.get());
    ComPtr<IUnknown> none;
    CHECK_HR(E_NOINTERFACE, control->QueryInterface(IID_IClassFactory, none.ReceiveVoid()));
  }
  CHECK_HR(S_OK, library.canUnloadNow());
  CHECK_HR(S_OK, factory->LockServer(TRUE));
  CHECK_HR(S_FALSE, library.canUnloadNow());
  CHECK_HR(S_OK, factory->LockServer(FALSE));
  CHECK_HR(S_OK, library.canUnloadNow());
}

void CheckAggregation(const Library& library) {
  ComPtr<IClassFactory> factory = Factory(library);
  Outer outer;
  void* object = nullptr;
  CHECK_HR(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, IID_ItwQARDEX, &object));
  CHECK_HR(S_OK, factory->CreateInstance(&outer, IID_IUnknown, outer.inner.ReceiveVoid()));
  if (!outer.inner) return;
  ComPtr<ItwQARDEX> control;
  CHECK_HR(S_OK, outer.QueryInterface(IID_ItwQARDEX, control.ReceiveVoid()));
  if (!control) return;
  // The aggregated object's interfaces answer with the outer identity.
  ComPtr<IUnknown> identity;
  const int queriesBefore = outer.delegatedQueries;
  control->QueryInterface(IID_IUnknown, identity.ReceiveVoid());
  CHECK(identity.get() == static_cast<IUnknown*>(&outer));
  control->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&object));
  CHECK(outer.delegatedQueries == queriesBefore + 1);
  if (object) static_cast<IUnknown*>(object)->Release();
  const ULONG before = outer.references;
  control->AddRef();
  CHECK(outer.references == before + 1);
  control->Release();
  control.Reset();
  identity.Reset();
  outer.inner.Reset();
  CHECK_HR(S_OK, library.canUnloadNow());
}

void CheckNullOutParameters(ItwQARDEX* control) {
  CHECK_HR(E_POINTER, control->GetVersion(nullptr));
  CHECK_HR(E_POINTER, control->GetRandom(nullptr));
  CHECK_HR(E_POINTER, control->GetReaders(nullptr));
  CHECK_HR(E_POINTER, control->GetHCConnectNo(nullptr));
  CHECK_HR(E_POINTER, control->GetLastError(nullptr));
  LONG error = 12345;
  CHECK_HR(S_OK, control->GetLastError(&error));
  CHECK(error == 0);  // a null out-parameter changed nothing
}

void CheckTypeLibraryDispatch(ItwQARDEX* control) {
  const wchar_t* names[] = {L"GetVersion",        L"GetRandom",
                            L"GetBasic",          L"H_Sign",
                            L"GetReaders",        L"GetHCConnectNo",
                            L"ServiceStatus",     L"GetName",
                            L"ZEL_FormatMessage", L"SecureGetBasicWithParam",
                            L"GetLastError",      L"EnCrypt"};
  for (int i = 0; i < 12; ++i) {
    LPOLESTR name = const_cast<LPOLESTR>(names[i]);
    DISPID id = -1;
    CHECK_HR(S_OK, control->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
    CHECK(id == i + 1);
  }
  LPOLESTR unknown = const_cast<LPOLESTR>(L"NoSuchMethod");
  DISPID id = 0;
  CHECK(FAILED(control->GetIDsOfNames(IID_NULL, &unknown, 1, 0, &id)));

  ComPtr<ITypeInfo> info;
  UINT count = 0;
  CHECK_HR(S_OK, control->GetTypeInfoCount(&count));
  CHECK(count == 1);
  CHECK_HR(S_OK, control->GetTypeInfo(0, 0, info.Receive()));
  if (!info) return;
  BSTR docRaw = nullptr;
  CHECK_HR(S_OK, info->GetDocumentation(MEMBERID_NIL, nullptr, &docRaw, nullptr, nullptr));
  Bstr doc(docRaw);
  CHECK(doc.get() && std::wstring(doc.get()) == L"ItwQARDEX Interface");
  docRaw = nullptr;
  info->GetDocumentation(9, nullptr, &docRaw, nullptr, nullptr);
  Bstr methodDoc(docRaw);
  CHECK(methodDoc.get() && std::wstring(methodDoc.get()) == L"method ZEL_FormatMessage");

  ComPtr<ITypeLib> library;
  UINT index = 0;
  CHECK_HR(S_OK, info->GetContainingTypeLib(library.Receive(), &index));
  if (library) {
    docRaw = nullptr;
    BSTR nameRaw = nullptr;
    library->GetDocumentation(-1, &nameRaw, &docRaw, nullptr, nullptr);
    Bstr libraryName(nameRaw);
    Bstr libraryDoc(docRaw);
    CHECK(libraryName.get() && std::wstring(libraryName.get()) == L"QARDEXLib");
    CHECK(libraryDoc.get() && std::wstring(libraryDoc.get()) == L"QARDEX 1.0 Type Library");
  }

  // Invoke through IDispatch reaches the method: GetVersion returns "0001".
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  CHECK_HR(S_OK,
           control->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr));
  CHECK(result.vt == VT_BSTR && result.bstrVal && std::wstring(result.bstrVal) == L"0001");
  VariantClear(&result);
  CHECK_HR(DISP_E_UNKNOWNINTERFACE,
           control->Invoke(1, IID_IDispatch, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr));
}

// The type information is loaded once for the library: a second control hands out the same
// object and keeps no reference of its own to it.
void CheckTypeInfoSharedByControls(const Library& library) {
  ComPtr<ItwQARDEX> first;
  ComPtr<ItwQARDEX> second;
  Factory(library)->CreateInstance(nullptr, IID_ItwQARDEX, first.ReceiveVoid());
  Factory(library)->CreateInstance(nullptr, IID_ItwQARDEX, second.ReceiveVoid());
  if (!first || !second) return CHECK(false);
  ComPtr<ITypeInfo> firstInfo;
  ComPtr<ITypeInfo> secondInfo;
  CHECK_HR(S_OK, first->GetTypeInfo(0, 0, firstInfo.Receive()));
  if (!firstInfo) return;
  const ULONG before = firstInfo->AddRef();
  firstInfo->Release();
  CHECK_HR(S_OK, second->GetTypeInfo(0, 0, secondInfo.Receive()));
  CHECK(firstInfo.get() == secondInfo.get());
  const ULONG after = firstInfo->AddRef();
  firstInfo->Release();
  CHECK(after == before + 1);  // only the reference handed out
}

void CheckSite(ItwQARDEX* control) {
  ComPtr<IObjectWithSite> withSite;
  control->QueryInterface(IID_IObjectWithSite, withSite.ReceiveVoid());
  CHECK(withSite.get() != nullptr);
  if (!withSite) return;
  void* site = reinterpret_cast<void*>(1);
  CHECK_HR(E_FAIL, withSite->GetSite(IID_IUnknown, &site));
  CHECK(site == nullptr);
  CHECK_HR(E_POINTER, withSite->GetSite(IID_IUnknown, nullptr));
  Outer container;
  CHECK_HR(S_OK, withSite->SetSite(&container));
  CHECK(container.references == 2);
  CHECK_HR(S_OK, withSite->SetSite(&container));  // the same site again: no new reference
  CHECK(container.references == 2);
  CHECK_HR(S_OK, withSite->GetSite(IID_IUnknown, &site));
  CHECK(site == static_cast<IUnknown*>(&container));
  if (site) container.Release();
  CHECK_HR(S_OK, withSite->SetSite(nullptr));
  CHECK(container.references == 1);
}

bool KeyExists(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

std::wstring DefaultValue(HKEY root, const std::wstring& path, const wchar_t* name = nullptr) {
  wchar_t text[1024] = {};
  DWORD size = sizeof text - sizeof(wchar_t);
  if (RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) !=
      ERROR_SUCCESS) {
    return L"<missing>";
  }
  return text;
}

std::wstring Braced(REFGUID guid) {
  wchar_t text[64] = {};
  StringFromGUID2(guid, text, 64);
  return text;
}

void CheckRegistration(const Library& library, const std::wstring& modulePath) {
  const std::wstring clsidKey = L"CLSID\\" + Braced(CLSID_twQARDEX);
  CHECK_HR(S_OK, library.registerServer());
  CHECK(DefaultValue(HKEY_CLASSES_ROOT, clsidKey) == L"twQARDEX Class");
  CHECK(DefaultValue(HKEY_CLASSES_ROOT, clsidKey + L"\\InprocServer32") == modulePath);
  CHECK(DefaultValue(HKEY_CLASSES_ROOT, clsidKey + L"\\InprocServer32", L"ThreadingModel") ==
        L"Apartment");
  CHECK(DefaultValue(HKEY_CLASSES_ROOT, clsidKey + L"\\ProgID") == L"QARDEX.twQARDEX.1");
  CHECK(DefaultValue(HKEY_CLASSES_ROOT, clsidKey + L"\\TypeLib") == Braced(LIBID_QARDEXLib));
  CHECK(KeyExists(HKEY_CLASSES_ROOT, clsidKey + L"\\Programmable"));
  CHECK(DefaultValue(HKEY_CLASSES_ROOT, L"QARDEX.twQARDEX\\CurVer") == L"QARDEX.twQARDEX.1");
  CHECK(DefaultValue(HKEY_CLASSES_ROOT, L"QARDEX.twQARDEX.1\\CLSID") == Braced(CLSID_twQARDEX));
  CHECK(KeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\" + Braced(LIBID_QARDEXLib) + L"\\1.0"));
  CHECK(DefaultValue(HKEY_CLASSES_ROOT, L"QARDEX.twQARDEX\\CLSID") == Braced(CLSID_twQARDEX));
  const wchar_t* safeForScripting = L"{7DD95801-9882-11CF-9FA9-00AA006C42C4}";
  const wchar_t* safeForInitializing = L"{7DD95802-9882-11CF-9FA9-00AA006C42C4}";
  for (const wchar_t* category : {safeForScripting, safeForInitializing}) {
    CHECK(KeyExists(HKEY_CLASSES_ROOT, clsidKey + L"\\Implemented Categories\\" + category));
    CHECK(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"Component Categories\\") + category));
  }
  CHECK(DefaultValue(HKEY_CLASSES_ROOT, std::wstring(L"Component Categories\\") + safeForScripting,
                     L"409") == L"Controls safely scriptable!");
  CHECK(DefaultValue(HKEY_CLASSES_ROOT,
                     std::wstring(L"Component Categories\\") + safeForInitializing,
                     L"409") == L"Controls safely initializable from persistent data!");

  CHECK_HR(S_OK, library.unregisterServer());
  CHECK(!KeyExists(HKEY_CLASSES_ROOT, clsidKey));
  CHECK(!KeyExists(HKEY_CLASSES_ROOT, L"QARDEX.twQARDEX"));
  CHECK(!KeyExists(HKEY_CLASSES_ROOT, L"QARDEX.twQARDEX.1"));
  CHECK(!KeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\" + Braced(LIBID_QARDEXLib)));
  CHECK(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
  for (const wchar_t* category : {safeForScripting, safeForInitializing}) {
    CHECK(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"Component Categories\\") + category));
  }
  CHECK_HR(S_OK, library.unregisterServer());  // twice is harmless

  // Leave the control registered for the scenarios that follow.
  CHECK_HR(S_OK, library.registerServer());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::printf("usage: com_behaviour_check QARDEX.dll\n");
    return 2;
  }
  CoInitialize(nullptr);
  Library library;
  library.module = LoadLibraryW(argv[1]);
  if (!library.module) {
    std::printf("cannot load the library (error %lu)\n", ::GetLastError());
    return 2;
  }
  library.getClassObject = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void*>(GetProcAddress(library.module, "DllGetClassObject")));
  library.canUnloadNow = reinterpret_cast<NoArgumentFn>(
      reinterpret_cast<void*>(GetProcAddress(library.module, "DllCanUnloadNow")));
  library.registerServer = reinterpret_cast<NoArgumentFn>(
      reinterpret_cast<void*>(GetProcAddress(library.module, "DllRegisterServer")));
  library.unregisterServer = reinterpret_cast<NoArgumentFn>(
      reinterpret_cast<void*>(GetProcAddress(library.module, "DllUnregisterServer")));
  if (!library.getClassObject || !library.canUnloadNow || !library.registerServer ||
      !library.unregisterServer) {
    std::printf("an export is missing\n");
    return 2;
  }
  wchar_t modulePath[MAX_PATH] = {};
  GetModuleFileNameW(library.module, modulePath, MAX_PATH);

  CheckClassObject(library);
  CheckLifetimeAndLocks(library);
  CheckAggregation(library);
  CheckTypeInfoSharedByControls(library);
  {
    ComPtr<ItwQARDEX> control;
    Factory(library)->CreateInstance(nullptr, IID_ItwQARDEX, control.ReceiveVoid());
    CHECK(control.get() != nullptr);
    if (control) {
      CheckNullOutParameters(control.get());
      CheckTypeLibraryDispatch(control.get());
      CheckSite(control.get());
    }
  }
  CheckRegistration(library, modulePath);
  const int result = qardex::check::Summary();
  CoUninitialize();
  return result;
}
