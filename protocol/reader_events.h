// The readers and cards as a watcher of them sees them: first the whole state (every reader in
// PC/SC's order), then each change. Transports send them as JSON objects (ReaderEventJson).
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <variant>
#include <vector>

#include "ipc/message.h"

namespace qardex::service {

struct ReaderStatus {
  std::u16string name;
  bool card = false;
  bool hc = false;  // the card is an HC card
};

struct ReaderState {
  std::vector<ReaderStatus> readers;
};

struct ReaderChange {
  ipc::ReaderEvent::Kind kind = ipc::ReaderEvent::Kind::ReaderAdded;  // never Synced
  std::size_t index = 0;
  std::u16string reader;
  bool hc = false;  // for CardInserted
};

using ReaderEvent = std::variant<ReaderState, ReaderChange>;

// {"type":"state","readers":[...]} or {"type":"card-inserted",...}: what pages read.
std::string ReaderEventJson(const ReaderEvent& event);

// One watcher's events. Ends when whatever reports the readers ends or the watcher falls too far
// behind.
class ReaderWatcher {
 public:
  virtual ~ReaderWatcher() = default;

  enum class Status { Event, Nothing, Ended };
  struct Next {
    Status status = Status::Nothing;
    ReaderEvent event;  // when Event
  };
  // Waits at most `limit` for the next event.
  virtual Next Wait(std::chrono::milliseconds limit) = 0;
};

}  // namespace qardex::service
