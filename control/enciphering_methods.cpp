// SecureGetBasicWithParam and EnCrypt: card-bound data as enciphered hex text.
#include <string>

#include "control/ctwqardex.h"
#include "engine/error_catalogue.h"
#include "engine/holder_record.h"
#include "control/method_guard.h"
#include "engine/random_generator.h"
#include "crypto/card_ciphers.h"
#include "crypto/key_material.h"

namespace qardex::control {

namespace {

constexpr UINT kShortestInput = 6;
constexpr UINT kLongestInput = 12;
static_assert(crypto::kCardNumberLength == kCardNumberField.length);

int DrawFromGenerator() { return NextRandom(); }

crypto::CalendarDate DateOf(const SYSTEMTIME& time) {
  return crypto::CalendarDate{time.wYear, time.wMonth, time.wDay};
}

}  // namespace

// sRand is accepted and not used.
HRESULT CtwQARDEX::SecureGetBasicWithParam(BSTR, BSTR* sBasic) {
  if (sBasic == nullptr) return E_POINTER;
  return Guarded([&] {
    SYSTEMTIME utc{};
    GetSystemTime(&utc);
    const crypto::TdeaKey dateKey = crypto::BuildDateKey(DateOf(utc));
    lastError_ = 0;
    HolderRecord record;
    HRESULT failure = S_OK;
    if (!ReadHolder(record, CardDataRead::Required, sBasic, failure)) return failure;
    const std::string basicText = FormatBasicText(record.fields, record.cardDataFlag);
    return ResultText().Deliver(crypto::EncipherBasicText(basicText, dateKey, DrawFromGenerator),
                                sBasic);
  });
}

// lastError is set on failure only: a success leaves an earlier code in place.
HRESULT CtwQARDEX::EnCrypt(BSTR sIN, BSTR* sOUT) {
  if (sOUT == nullptr) return E_POINTER;
  return Guarded([&] {
    SeedRandomWithTime();
    SYSTEMTIME local{};
    GetLocalTime(&local);
    const UINT length = sIN ? SysStringLen(sIN) : 0;
    if (length < kShortestInput || length > kLongestInput) return Fail(kWrongInputLength, sOUT);
    HolderRecord record;
    HRESULT failure = S_OK;
    if (!ReadHolder(record, CardDataRead::Skipped, sOUT, failure)) return failure;
    ResultText input;
    const HRESULT converted = input.AssignWide(sIN);
    if (FAILED(converted)) return converted;
    const crypto::TdeaKey cardKey = crypto::BuildCardKey(record.rawCardNumber, DateOf(local));
    return ResultText().Deliver(
        crypto::EncipherPageString(input.Narrow(), cardKey, DrawFromGenerator), sOUT);
  });
}

}  // namespace qardex::control
