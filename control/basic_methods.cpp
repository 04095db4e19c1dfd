// GetBasic and GetName: the holder's basic data in plain text.
#include <string>

#include "common/text_conversion.h"
#include "control/ctwqardex.h"
#include "control/method_guard.h"

namespace qardex::control {

HRESULT CtwQARDEX::Fail(std::int32_t code, BSTR* out) {
  lastError_ = code;
  return ResultText().Deliver(std::to_string(code), out);
}

bool CtwQARDEX::ReadHolder(HolderRecord& record, CardDataRead cardData, BSTR* out,
                           HRESULT& failure) {
  const std::int32_t status = ReadHolderRecord(card::SystemPcsc(), record, cardData);
  if (status == 0) return true;
  failure = Fail(status, out);
  return false;
}

HRESULT CtwQARDEX::GetBasic(BSTR* sBasic) {
  if (sBasic == nullptr) return E_POINTER;
  return Guarded([&] {
    lastError_ = 0;
    HolderRecord record;
    HRESULT failure = S_OK;
    if (!ReadHolder(record, CardDataRead::Required, sBasic, failure)) return failure;
    return ResultText().Deliver(FormatBasicText(record.fields, record.cardDataFlag), sBasic);
  });
}

// The page receives the UTF-8 bytes of the name read through the ANSI code
// page, a form integrators rely on.
HRESULT CtwQARDEX::GetName(BSTR* sName) {
  if (sName == nullptr) return E_POINTER;
  return Guarded([&] {
    lastError_ = 0;
    HolderRecord record;
    HRESULT failure = S_OK;
    if (!ReadHolder(record, CardDataRead::Required, sName, failure)) return failure;
    const std::string name = TrimTrailingBlanks(record.fields.holderName);
    return ResultText().Deliver(WideToUtf8(AnsiToWide(name)), sName);
  });
}

}  // namespace qardex::control
