// Methods whose card, enciphering and network work is not in this build yet.
// They report E_NOTIMPL rather than pretending to succeed.
#include "control/ctwqardex.h"

namespace qardex::control {

namespace {
HRESULT NotBuiltYet(BSTR* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  return E_NOTIMPL;
}
}  // namespace

HRESULT CtwQARDEX::H_Sign(BSTR, BSTR* CryptoBIN) { return NotBuiltYet(CryptoBIN); }
HRESULT CtwQARDEX::SecureGetBasicWithParam(BSTR, BSTR* sBasic) { return NotBuiltYet(sBasic); }
HRESULT CtwQARDEX::EnCrypt(BSTR, BSTR* sOUT) { return NotBuiltYet(sOUT); }

}  // namespace qardex::control
