// COM plumbing of the control: identity, reference counting, aggregation,
// the type-library-driven IDispatch and the site.
#include "control/ctwqardex.h"

#include <new>

#include "com/module_state.h"
#include "control/method_guard.h"
#include "engine/system_platform.h"

namespace qardex::control {

HRESULT CtwQARDEX::Create(IUnknown* outer, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  return Guarded([&] {
    auto* control = new (std::nothrow) CtwQARDEX(outer);
    if (control == nullptr) return E_OUTOFMEMORY;
    // The inner unknown owns the object; it goes when that reference does.
    control->inner_.AddRef();
    const HRESULT result = control->inner_.QueryInterface(iid, object);
    control->inner_.Release();
    return result;
  });
}

CtwQARDEX::CtwQARDEX(IUnknown* outer)
    : controllingUnknown_(outer != nullptr ? outer : &inner_), session_(engine::SystemPlatform()) {
  com::LockModule();
}

CtwQARDEX::~CtwQARDEX() { com::UnlockModule(); }

HRESULT CtwQARDEX::InnerUnknown::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (IsEqualIID(iid, IID_IUnknown)) {
    *object = static_cast<IUnknown*>(this);
  } else if (IsEqualIID(iid, IID_ItwQARDEX) || IsEqualIID(iid, IID_IDispatch)) {
    *object = static_cast<ItwQARDEX*>(&owner_);
  } else if (IsEqualIID(iid, IID_IObjectSafety)) {
    *object = static_cast<IObjectSafety*>(&owner_);
  } else if (IsEqualIID(iid, IID_IObjectSafetySiteLock)) {
    *object = static_cast<IObjectSafetySiteLock*>(&owner_);
  } else if (IsEqualIID(iid, IID_IObjectWithSite)) {
    *object = static_cast<IObjectWithSite*>(&owner_);
  } else {
    return E_NOINTERFACE;
  }
  static_cast<IUnknown*>(*object)->AddRef();
  return S_OK;
}

ULONG CtwQARDEX::InnerUnknown::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&owner_.references_));
}

ULONG CtwQARDEX::InnerUnknown::Release() {
  const LONG remaining = InterlockedDecrement(&owner_.references_);
  if (remaining == 0) delete &owner_;
  return static_cast<ULONG>(remaining);
}

HRESULT CtwQARDEX::QueryInterface(REFIID iid, void** object) {
  return controllingUnknown_->QueryInterface(iid, object);
}
ULONG CtwQARDEX::AddRef() { return controllingUnknown_->AddRef(); }
ULONG CtwQARDEX::Release() { return controllingUnknown_->Release(); }

HRESULT CtwQARDEX::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  return Guarded([&] {
    *count = 1;
    return S_OK;
  });
}

HRESULT CtwQARDEX::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return Guarded([&] { return com::ControlTypeInfo(info); });
}

HRESULT CtwQARDEX::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  return Guarded([&] {
    com::ComPtr<ITypeInfo> typeInfo;
    const HRESULT result = com::ControlTypeInfo(typeInfo.Receive());
    if (FAILED(result)) return result;
    return typeInfo->GetIDsOfNames(names, count, ids);
  });
}

HRESULT CtwQARDEX::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                          VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  return Guarded([&] {
    com::ComPtr<ITypeInfo> typeInfo;
    const HRESULT loaded = com::ControlTypeInfo(typeInfo.Receive());
    if (FAILED(loaded)) return loaded;
    return typeInfo->Invoke(static_cast<ItwQARDEX*>(this), id, flags, params, result, exception,
                            argumentError);
  });
}

HRESULT CtwQARDEX::SetSite(IUnknown* site) {
  return Guarded([&] {
    if (site != site_.get()) site_ = com::ComPtr<IUnknown>::Share(site);
    return S_OK;
  });
}

HRESULT CtwQARDEX::GetSite(REFIID iid, void** site) {
  if (site == nullptr) return E_POINTER;
  *site = nullptr;
  if (!site_) return E_FAIL;
  return Guarded([&] { return site_->QueryInterface(iid, site); });
}

}  // namespace qardex::control
