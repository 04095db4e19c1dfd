// The scriptable control: class twQARDEX behind the dual interface ItwQARDEX, the COM face of
// the engine's session.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include "com/com_ptr.h"
#include "engine/session.h"
#include "qardex_idl.h"

namespace qardex::control {

class CtwQARDEX final : public ItwQARDEX, public IObjectSafetySiteLock, public IObjectWithSite {
 public:
  // Creates a control, alone (outer null) or aggregated into `outer`, and
  // returns its interface `iid` (aggregation requires IID_IUnknown).
  static HRESULT Create(IUnknown* outer, REFIID iid, void** object);

  // IUnknown: delegates to the outer object when aggregated.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch, driven by the type library.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argumentError) override;

  // ItwQARDEX
  HRESULT STDMETHODCALLTYPE GetVersion(BSTR* sVer) override;
  HRESULT STDMETHODCALLTYPE GetRandom(BSTR* sRandom) override;
  HRESULT STDMETHODCALLTYPE GetBasic(BSTR* sBasic) override;
  HRESULT STDMETHODCALLTYPE H_Sign(BSTR sRandom, BSTR* CryptoBIN) override;
  HRESULT STDMETHODCALLTYPE GetReaders(BSTR* sReaders) override;
  HRESULT STDMETHODCALLTYPE GetHCConnectNo(LONG* iConnectNo) override;
  HRESULT STDMETHODCALLTYPE ServiceStatus(LONG* iRet) override;
  HRESULT STDMETHODCALLTYPE GetName(BSTR* sName) override;
  HRESULT STDMETHODCALLTYPE ZEL_FormatMessage(BSTR sCode, BSTR* sMessage) override;
  HRESULT STDMETHODCALLTYPE SecureGetBasicWithParam(BSTR sRand, BSTR* sBasic) override;
  HRESULT STDMETHODCALLTYPE GetLastError(LONG* ErrorCode) override;
  HRESULT STDMETHODCALLTYPE EnCrypt(BSTR sIN, BSTR* sOUT) override;

  // IObjectSafety with the site lock's read-only queries
  HRESULT STDMETHODCALLTYPE GetInterfaceSafetyOptions(REFIID iid, DWORD* supported,
                                                      DWORD* enabled) override;
  HRESULT STDMETHODCALLTYPE SetInterfaceSafetyOptions(REFIID iid, DWORD mask,
                                                      DWORD enabled) override;
  HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* capability) override;
  HRESULT STDMETHODCALLTYPE GetApprovedSites(const SiteLockEntry** sites, DWORD* count) override;

  // IObjectWithSite
  HRESULT STDMETHODCALLTYPE SetSite(IUnknown* site) override;
  HRESULT STDMETHODCALLTYPE GetSite(REFIID iid, void** site) override;

 private:
  // The object's own IUnknown, which an aggregating outer object holds.
  class InnerUnknown final : public IUnknown {
   public:
    explicit InnerUnknown(CtwQARDEX& owner) : owner_(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

   private:
    CtwQARDEX& owner_;
  };

  explicit CtwQARDEX(IUnknown* outer);
  ~CtwQARDEX();
  CtwQARDEX(const CtwQARDEX&) = delete;
  CtwQARDEX& operator=(const CtwQARDEX&) = delete;

  // Whether the object answers `iid`; the query's error otherwise.
  bool AnswersInterface(REFIID iid, HRESULT& error);

  InnerUnknown inner_{*this};
  IUnknown* controllingUnknown_;  // the outer object, or inner_; never owned
  LONG references_ = 0;           // interlocked: a reference may be dropped on any thread

  // What the methods do, without COM: lastError, the generator's seed and the results.
  engine::Session session_;

  com::ComPtr<IUnknown> site_;
};

}  // namespace qardex::control
