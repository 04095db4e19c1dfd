#include "card/reader_watch.h"

#include <algorithm>
#include <array>
#include <thread>

#include "card/apdu.h"
#include "card/reader_session.h"

namespace qardex::card {

namespace {

// A wait that ends early and finds nothing changed (a state bit the watch does not report, such
// as another program using the card) is followed by this pause, so that the round never spins.
constexpr std::chrono::milliseconds kQuietPause{200};

bool WaitEnded(PcscStatus status) { return status == kPcscSuccess || status == kPcscTimeout; }

std::uint32_t Known(std::uint32_t event) { return event & ~kReaderStateChanged; }

}  // namespace

bool ReaderWatch::Establish() {
  if (hasContext_) return true;
  hasContext_ = pcsc_.EstablishContext(&context_) == kPcscSuccess;
  listState_ = 0;
  return hasContext_;
}

void ReaderWatch::DropContext() {
  if (!hasContext_) return;
  hasContext_ = false;
  pcsc_.ReleaseContext(context_);
}

bool ReaderWatch::Lost(std::vector<ReaderChange>& changes) {
  DropContext();
  Report({}, changes);
  primed_ = false;
  return false;
}

bool ReaderWatch::Look(std::vector<Seen>& now) {
  now.clear();
  std::uint32_t length = 0;
  PcscStatus result = pcsc_.ListReaders(context_, nullptr, &length);
  if (result == kPcscNoReaders) return true;
  if (result != kPcscSuccess || length > kReaderListLimit) return false;
  std::vector<char> list(length, '\0');
  result = pcsc_.ListReaders(context_, list.data(), &length);
  if (result == kPcscNoReaders) return true;
  if (result != kPcscSuccess) return false;
  list.resize(std::min<std::size_t>(length, list.size()));
  for (std::size_t at = 0; at < list.size() && list[at] != '\0';) {
    const auto end = std::find(list.begin() + static_cast<std::ptrdiff_t>(at), list.end(), '\0');
    const std::size_t stop = static_cast<std::size_t>(end - list.begin());
    now.push_back({std::string(list.data() + at, stop - at), false, 0});
    at = stop + 1;
  }
  std::vector<ReaderStatus> states;
  for (std::size_t i = 0; i < now.size() && i < kMaxWatchedReaders; ++i) {
    states.push_back({now[i].name, 0, 0});
  }
  if (states.empty()) return true;
  result = status_.GetStatusChange(context_, std::chrono::milliseconds(0), states);
  if (result == kPcscUnknownReader) return Look(now);  // a reader left meanwhile
  if (!WaitEnded(result)) return false;
  for (std::size_t i = 0; i < states.size(); ++i) {
    now[i].card = (states[i].event & kReaderStatePresent) != 0;
    now[i].state = Known(states[i].event);
  }
  return true;
}

bool ReaderWatch::AnswersHC(const std::string& reader) {
  PcscCard card = 0;
  if (pcsc_.Connect(context_, reader.c_str(), &card) != kPcscSuccess) return false;
  bool answers = false;
  if (pcsc_.BeginTransaction(card) == kPcscSuccess) {
    std::array<std::uint8_t, kApduBufferSize> response{};
    std::uint32_t length = static_cast<std::uint32_t>(response.size());
    answers = pcsc_.Transmit(card, kSelectHC.data(), static_cast<std::uint32_t>(kSelectHC.size()),
                             response.data(), &length) == kPcscSuccess &&
              length <= response.size() && IsSuccessResponse(response.data(), length);
    pcsc_.EndTransaction(card);
  }
  pcsc_.Disconnect(card);
  return answers;
}

void ReaderWatch::Report(const std::vector<Seen>& now, std::vector<ReaderChange>& changes) {
  const auto find = [](const std::vector<Seen>& in, const std::string& name) {
    return std::find_if(in.begin(), in.end(), [&](const Seen& s) { return s.name == name; });
  };
  for (std::size_t i = 0; i < seen_.size(); ++i) {
    const auto still = find(now, seen_[i].name);
    const int index = static_cast<int>(i);
    if (seen_[i].card && (still == now.end() || !still->card)) {
      changes.push_back({ReaderChange::Kind::CardRemoved, seen_[i].name, index, false});
    }
    if (still == now.end()) {
      changes.push_back({ReaderChange::Kind::ReaderRemoved, seen_[i].name, index, false});
    }
  }
  for (std::size_t i = 0; i < now.size(); ++i) {
    const auto before = find(seen_, now[i].name);
    const int index = static_cast<int>(i);
    if (before == seen_.end()) {
      changes.push_back({ReaderChange::Kind::ReaderAdded, now[i].name, index, false});
    }
    if (now[i].card && (before == seen_.end() || !before->card)) {
      changes.push_back(
          {ReaderChange::Kind::CardInserted, now[i].name, index, AnswersHC(now[i].name)});
    }
  }
  seen_ = now;
}

bool ReaderWatch::Round(std::chrono::milliseconds wait, std::vector<ReaderChange>& changes) {
  if (!Establish()) return Lost(changes);
  if (primed_) {
    std::vector<ReaderStatus> states;
    for (std::size_t i = 0; i < seen_.size() && i < kMaxWatchedReaders; ++i) {
      states.push_back({seen_[i].name, seen_[i].state, 0});
    }
    states.push_back({kReaderListNotification, listState_, 0});
    const auto start = std::chrono::steady_clock::now();
    const PcscStatus result = status_.GetStatusChange(context_, wait, states);
    if (result == kPcscTimeout) return true;  // nothing changed: no need to look
    if (result == kPcscSuccess) {
      listState_ = Known(states.back().event);
    } else if (result != kPcscUnknownReader) {
      return Lost(changes);
    }
    const bool early = std::chrono::steady_clock::now() - start < kQuietPause;
    std::vector<Seen> now;
    if (!Look(now)) return Lost(changes);
    const std::size_t before = changes.size();
    Report(now, changes);
    if (early && changes.size() == before) std::this_thread::sleep_for(std::min(wait, kQuietPause));
    return true;
  }
  std::vector<Seen> now;
  if (!Look(now)) return Lost(changes);
  primed_ = true;
  Report(now, changes);
  return true;
}

}  // namespace qardex::card
