// GetVersion, GetRandom, GetReaders, GetHCConnectNo and GetLastError.
#include "card/reader_session.h"
#include "control/ctwqardex.h"
#include "control/method_guard.h"
#include "engine/random_generator.h"

namespace qardex::control {

namespace {
constexpr char kVersion[] = "0001";
constexpr char kNoReaders[] = "N/A";
}  // namespace

HRESULT CtwQARDEX::GetVersion(BSTR* sVer) {
  if (sVer == nullptr) return E_POINTER;
  return Guarded([&] { return versionText_.Deliver(kVersion, sVer); });
}

HRESULT CtwQARDEX::GetRandom(BSTR* sRandom) {
  if (sRandom == nullptr) return E_POINTER;
  return Guarded([&] { return randomText_.Deliver(RandomDigits16(), sRandom); });
}

HRESULT CtwQARDEX::GetReaders(BSTR* sReaders) {
  if (sReaders == nullptr) return E_POINTER;
  return Guarded([&] {
    std::string text = kNoReaders;
    {
      card::CardSession session(card::SystemPcsc());
      card::ReaderListing listing;
      if (card::ListReaders(session, listing) == card::kPcscSuccess && listing.names.count() > 0) {
        std::string joined = listing.names.Joined();
        if (!joined.empty()) text = std::move(joined);
      }
    }  // the context is released here, whichever way the listing went
    return readerListText_.Deliver(text, sReaders);
  });
}

HRESULT CtwQARDEX::GetHCConnectNo(LONG* iConnectNo) {
  if (iConnectNo == nullptr) return E_POINTER;
  return Guarded([&] {
    card::CardSession session(card::SystemPcsc());
    int index = -1;
    const std::int32_t status = card::FindHCReader(session, index);
    if (status == card::kScanOk) {
      *iConnectNo = index;
    } else {
      lastError_ = status;
      *iConnectNo = -1;
    }
    return S_OK;
  });
}

HRESULT CtwQARDEX::GetLastError(LONG* ErrorCode) {
  if (ErrorCode == nullptr) return E_POINTER;
  *ErrorCode = lastError_;
  return S_OK;
}

}  // namespace qardex::control
