// Watching the readers for readers and cards that come and go, one bounded round at a time, with
// PC/SC's status-change wait (including the pseudo-reader that reports readers being added or
// removed). The watch keeps its own context; a context PC/SC no longer honours (its service
// stopped, as Windows does when the last reader goes) is dropped and every reader counts as gone
// until a new one is established.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "card/pcsc_api.h"

namespace qardex::card {

// One entry of a status-change wait: what the caller knows of the reader and what PC/SC reports.
struct ReaderStatus {
  std::string reader;
  std::uint32_t current = 0;  // 0: nothing known yet
  std::uint32_t event = 0;
};

inline constexpr std::uint32_t kReaderStateChanged = 0x0002;
inline constexpr std::uint32_t kReaderStatePresent = 0x0020;
// The pseudo-reader whose state changes when a reader is added or removed.
inline constexpr char kReaderListNotification[] = "\\\\?PnP?\\Notification";
inline constexpr PcscStatus kPcscTimeout = static_cast<PcscStatus>(0x8010000A);
inline constexpr PcscStatus kPcscUnknownReader = static_cast<PcscStatus>(0x80100009);
inline constexpr PcscStatus kPcscNoReaders = static_cast<PcscStatus>(0x8010002E);
// Readers watched for cards at once (Windows takes no more in one wait); readers beyond still
// count as added and removed.
inline constexpr std::size_t kMaxWatchedReaders = 10;

class StatusChangeApi {
 public:
  virtual ~StatusChangeApi() = default;
  // Waits at most `timeout` until some entry's state differs from its `current`, and fills every
  // `event`. Success, kPcscTimeout, or the failure.
  virtual PcscStatus GetStatusChange(PcscContext context, std::chrono::milliseconds timeout,
                                     std::vector<ReaderStatus>& readers) = 0;
};

// The binding the worker uses (WinSCard on Windows).
StatusChangeApi& SystemStatusChange();

struct ReaderChange {
  enum class Kind { ReaderAdded, ReaderRemoved, CardInserted, CardRemoved };
  Kind kind;
  std::string reader;
  int index;  // position in PC/SC's reader list (for a removal: where it was)
  bool hc;    // CardInserted: the card answered the HC application's SELECT
  bool operator==(const ReaderChange& other) const {
    return kind == other.kind && reader == other.reader && index == other.index && hc == other.hc;
  }
};

class ReaderWatch {
 public:
  ReaderWatch(PcscApi& pcsc, StatusChangeApi& status) : pcsc_(pcsc), status_(status) {}
  ~ReaderWatch() { DropContext(); }
  ReaderWatch(const ReaderWatch&) = delete;
  ReaderWatch& operator=(const ReaderWatch&) = delete;

  // The first round reports what is there at once; each later one waits at most `wait` for a
  // change, then reports what changed since the round before. False when PC/SC could not be
  // reached (the caller waits before the next round); the readers then count as removed.
  bool Round(std::chrono::milliseconds wait, std::vector<ReaderChange>& changes);

 private:
  struct Seen {
    std::string name;
    bool card;
    std::uint32_t state;  // as PC/SC last reported it, event count included
  };
  bool Establish();
  void DropContext();
  bool Lost(std::vector<ReaderChange>& changes);
  // Lists the readers and their cards now; false when PC/SC failed.
  bool Look(std::vector<Seen>& now);
  void Report(const std::vector<Seen>& now, std::vector<ReaderChange>& changes);
  bool AnswersHC(const std::string& reader);

  PcscApi& pcsc_;
  StatusChangeApi& status_;
  PcscContext context_ = 0;
  bool hasContext_ = false;
  bool primed_ = false;
  std::uint32_t listState_ = 0;  // the pseudo-reader's last reported state
  std::vector<Seen> seen_;
};

}  // namespace qardex::card
