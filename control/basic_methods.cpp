// GetBasic and GetName: the holder's basic data in plain text.
#include <string>

#include "control/code_page.h"
#include "control/ctwqardex.h"
#include "control/holder_record.h"
#include "control/method_guard.h"

namespace qardex::control {

namespace {
// The result goes through a holder local to the call, like every result text.
HRESULT ReturnText(const std::string& narrow, BSTR* out) {
  ResultText result;
  const HRESULT assigned = result.AssignNarrow(narrow);
  return FAILED(assigned) ? assigned : result.CopyTo(out);
}
}  // namespace

HRESULT CtwQARDEX::GetBasic(BSTR* sBasic) {
  if (sBasic == nullptr) return E_POINTER;
  return Guarded([&] {
    lastError_ = 0;
    HolderRecord record;
    const std::int32_t status = ReadHolderRecord(card::SystemPcsc(), record);
    if (status != 0) {
      lastError_ = status;
      return ReturnText(std::to_string(status), sBasic);
    }
    return ReturnText(FormatBasicText(record.fields, record.cardDataFlag), sBasic);
  });
}

// The page receives the UTF-8 bytes of the name read through the ANSI code
// page, a form integrators rely on.
HRESULT CtwQARDEX::GetName(BSTR* sName) {
  if (sName == nullptr) return E_POINTER;
  return Guarded([&] {
    lastError_ = 0;
    HolderRecord record;
    const std::int32_t status = ReadHolderRecord(card::SystemPcsc(), record);
    if (status != 0) {
      lastError_ = status;
      return ReturnText(std::to_string(status), sName);
    }
    const std::string name = TrimTrailingBlanks(record.fields.holderName);
    return ReturnText(WideToUtf8(AnsiToWide(name)), sName);
  });
}

}  // namespace qardex::control
