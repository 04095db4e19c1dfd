#include "inprocess/reader_events.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace qardex::inprocess {

namespace {

ipc::ReaderEvent EventOf(const card::ReaderChange& change) {
  using Kind = card::ReaderChange::Kind;
  ipc::ReaderEvent event;
  switch (change.kind) {
    case Kind::ReaderAdded:
      event.kind = ipc::ReaderEvent::Kind::ReaderAdded;
      break;
    case Kind::ReaderRemoved:
      event.kind = ipc::ReaderEvent::Kind::ReaderRemoved;
      break;
    case Kind::CardInserted:
      event.kind = ipc::ReaderEvent::Kind::CardInserted;
      break;
    case Kind::CardRemoved:
      event.kind = ipc::ReaderEvent::Kind::CardRemoved;
      break;
  }
  event.index = change.index;
  event.hc = change.hc;
  // Reader names are ANSI bytes; each byte crosses as one unit, as the control widens them.
  event.reader.assign(change.reader.begin(), change.reader.end());
  for (char16_t& unit : event.reader) unit = static_cast<unsigned char>(unit);
  return event;
}

class ThreadWatch final : public ReaderEventWatch {
 public:
  ThreadWatch(card::PcscApi& pcsc, card::StatusChangeApi& status, WatchTiming timing,
              ReaderEventSink sink)
      : pcsc_(pcsc), status_(status), timing_(timing), sink_(std::move(sink)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~ThreadWatch() override {
    {
      std::lock_guard<std::mutex> hold(lock_);
      stop_ = true;
    }
    stopped_.notify_all();
    thread_.join();
  }
  ThreadWatch(const ThreadWatch&) = delete;
  ThreadWatch& operator=(const ThreadWatch&) = delete;

 private:
  bool Stopping() {
    std::lock_guard<std::mutex> hold(lock_);
    return stop_;
  }
  // False when stopped during the pause.
  bool Pause(std::chrono::milliseconds length) {
    std::unique_lock<std::mutex> hold(lock_);
    return !stopped_.wait_for(hold, length, [this] { return stop_; });
  }

  void Run() noexcept {
    try {
      card::ReaderWatch watch(pcsc_, status_);
      std::chrono::milliseconds retry = timing_.firstRetry;
      bool synced = false;
      while (!Stopping()) {
        std::vector<card::ReaderChange> changes;
        const bool reached = watch.Round(timing_.round, changes);
        for (const card::ReaderChange& change : changes) sink_(EventOf(change));
        if (!synced) {
          sink_(ipc::ReaderEvent{ipc::ReaderEvent::Kind::Synced, -1, false, {}});
          synced = true;
        }
        if (reached) {
          retry = timing_.firstRetry;
        } else if (Pause(retry)) {
          retry = std::min(retry * 2, timing_.longestRetry);
        }
      }
    } catch (...) {
      // No memory for a round: the watch ends; the service sees no more events from it.
    }
  }

  card::PcscApi& pcsc_;
  card::StatusChangeApi& status_;
  const WatchTiming timing_;
  const ReaderEventSink sink_;
  std::mutex lock_;
  std::condition_variable stopped_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<ReaderEventWatch> PcscReaderEvents::Start(ReaderEventSink sink) {
  try {
    return std::make_unique<ThreadWatch>(pcsc_, status_, timing_, std::move(sink));
  } catch (...) {
    return nullptr;
  }
}

}  // namespace qardex::inprocess
