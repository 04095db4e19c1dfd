// The worker's reader watch: runs only while the service says someone watches, on a thread of its
// own, and hands each change to a sink as an ipc::ReaderEvent.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "card/reader_watch.h"
#include "ipc/message.h"

namespace qardex::inprocess {

using ReaderEventSink = std::function<void(const ipc::ReaderEvent&)>;

// A running watch; destroying it stops the watch (within one round) before it returns.
class ReaderEventWatch {
 public:
  virtual ~ReaderEventWatch() = default;
};

class ReaderEventSource {
 public:
  virtual ~ReaderEventSource() = default;
  // Starts a watch that reports what is there, then Synced, then the changes. Null when no
  // thread can be had.
  virtual std::unique_ptr<ReaderEventWatch> Start(ReaderEventSink sink) = 0;
};

struct WatchTiming {
  // Longest wait of one round: how soon a stop is honoured.
  std::chrono::milliseconds round{500};
  // Pauses before trying PC/SC again after it could not be reached: doubling up to the longest,
  // so a smart-card service that comes back is found within a second.
  std::chrono::milliseconds firstRetry{250};
  std::chrono::milliseconds longestRetry{1000};
};

class PcscReaderEvents final : public ReaderEventSource {
 public:
  PcscReaderEvents(card::PcscApi& pcsc, card::StatusChangeApi& status, WatchTiming timing = {})
      : pcsc_(pcsc), status_(status), timing_(timing) {}
  std::unique_ptr<ReaderEventWatch> Start(ReaderEventSink sink) override;

 private:
  card::PcscApi& pcsc_;
  card::StatusChangeApi& status_;
  const WatchTiming timing_;
};

}  // namespace qardex::inprocess
