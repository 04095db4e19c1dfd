// The twelve methods of ItwQARDEX: each hands its arguments to the engine's session and its
// result back to the page.
#include "control/automation_text.h"
#include "control/ctwqardex.h"
#include "control/method_guard.h"

namespace qardex::control {

HRESULT CtwQARDEX::GetVersion(BSTR* sVer) {
  if (sVer == nullptr) return E_POINTER;
  return Guarded([&] { return DeliverText(session_.GetVersion(), sVer); });
}

HRESULT CtwQARDEX::GetRandom(BSTR* sRandom) {
  if (sRandom == nullptr) return E_POINTER;
  return Guarded([&] { return DeliverText(session_.GetRandom(), sRandom); });
}

HRESULT CtwQARDEX::GetBasic(BSTR* sBasic) {
  if (sBasic == nullptr) return E_POINTER;
  return Guarded([&] { return DeliverText(session_.GetBasic(), sBasic); });
}

HRESULT CtwQARDEX::H_Sign(BSTR sRandom, BSTR* CryptoBIN) {
  if (CryptoBIN == nullptr) return E_POINTER;
  return Guarded([&] { return DeliverText(session_.H_Sign(PageTextOf(sRandom)), CryptoBIN); });
}

HRESULT CtwQARDEX::GetReaders(BSTR* sReaders) {
  if (sReaders == nullptr) return E_POINTER;
  return Guarded([&] { return DeliverText(session_.GetReaders(), sReaders); });
}

HRESULT CtwQARDEX::GetHCConnectNo(LONG* iConnectNo) {
  if (iConnectNo == nullptr) return E_POINTER;
  return Guarded([&] {
    *iConnectNo = session_.GetHCConnectNo();
    return S_OK;
  });
}

HRESULT CtwQARDEX::ServiceStatus(LONG* iRet) {
  if (iRet == nullptr) return E_POINTER;
  return Guarded([&] {
    *iRet = session_.ServiceStatus();
    return S_OK;
  });
}

HRESULT CtwQARDEX::GetName(BSTR* sName) {
  if (sName == nullptr) return E_POINTER;
  return Guarded([&] { return DeliverText(session_.GetName(), sName); });
}

HRESULT CtwQARDEX::ZEL_FormatMessage(BSTR sCode, BSTR* sMessage) {
  if (sMessage == nullptr) return E_POINTER;
  return Guarded(
      [&] { return DeliverText(session_.ZEL_FormatMessage(PageTextOf(sCode)), sMessage); });
}

HRESULT CtwQARDEX::SecureGetBasicWithParam(BSTR sRand, BSTR* sBasic) {
  if (sBasic == nullptr) return E_POINTER;
  return Guarded(
      [&] { return DeliverText(session_.SecureGetBasicWithParam(PageTextOf(sRand)), sBasic); });
}

HRESULT CtwQARDEX::GetLastError(LONG* ErrorCode) {
  if (ErrorCode == nullptr) return E_POINTER;
  *ErrorCode = session_.GetLastError();
  return S_OK;
}

HRESULT CtwQARDEX::EnCrypt(BSTR sIN, BSTR* sOUT) {
  if (sOUT == nullptr) return E_POINTER;
  return Guarded([&] { return DeliverText(session_.EnCrypt(PageTextOf(sIN)), sOUT); });
}

}  // namespace qardex::control
