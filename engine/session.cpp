// The session's state and the operations that only read or draw: version, random digits, the
// reader list and the reader scan.
#include "engine/session.h"

#include "card/reader_session.h"
#include "engine/random_generator.h"

namespace qardex::engine {

namespace {
constexpr char kNoReaders[] = "N/A";
}  // namespace

Session::Session(Platform& platform) : platform_(platform) { SeedRandomWithTime(); }

std::string Session::Fail(std::int32_t code) {
  lastError_ = code;
  return std::to_string(code);
}

const std::string& Session::GetVersion() { return versionText_ = kComponentVersion; }

const std::string& Session::GetRandom() { return randomText_ = RandomDigits16(); }

const std::string& Session::GetReaders() {
  std::string text = kNoReaders;
  {
    card::CardSession session(platform_.Pcsc());
    card::ReaderListing listing;
    if (card::ListReaders(session, listing) == card::kPcscSuccess && listing.names.count() > 0) {
      std::string joined = listing.names.Joined();
      if (!joined.empty()) text = std::move(joined);
    }
  }  // the context is released here, whichever way the listing went
  return readerListText_ = std::move(text);
}

std::int32_t Session::GetHCConnectNo() {
  card::CardSession session(platform_.Pcsc());
  int index = -1;
  const std::int32_t status = card::FindHCReader(session, index);
  if (status == card::kScanOk) return index;
  lastError_ = status;
  return -1;
}

}  // namespace qardex::engine
