// The readers and cards as one watch reports them (a worker's, or this process's own), and the
// watchers that follow them. The watch runs only while at least one watcher is subscribed; the
// first watcher switches it on, the last one to leave switches it off. A watcher first gets the
// whole state (once the watch has reported it), then every change; a watcher that lets too many
// pile up, or whose watch ended, is ended.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ipc/message.h"
#include "protocol/reader_events.h"

namespace qardex::service {

// Changes one watcher may have waiting before it is taken for stuck and ended.
inline constexpr std::size_t kMaxQueuedReaderEvents = 64;
// What one worker may report: more readers than a machine has, or names longer than PC/SC gives
// a reader, come from a worker that is not ours any more.
inline constexpr std::size_t kMaxReaders = 64;
inline constexpr std::size_t kMaxReaderNameUnits = 256;

class ReaderHub;

// One watcher's queue of events.
class HubWatcher final : public ReaderWatcher {
 public:
  explicit HubWatcher(std::shared_ptr<ReaderHub> hub) : hub_(std::move(hub)) {}
  // Leaves the hub (the last watcher's leaving switches the worker's watch off).
  ~HubWatcher() override;
  HubWatcher(const HubWatcher&) = delete;
  HubWatcher& operator=(const HubWatcher&) = delete;

  Next Wait(std::chrono::milliseconds limit) override;

 private:
  friend class ReaderHub;
  void Push(ReaderEvent event);  // with the hub's lock held
  void End();                    // with the hub's lock held

  const std::shared_ptr<ReaderHub> hub_;
  std::condition_variable ready_;
  std::deque<ReaderEvent> queue_;
  bool ended_ = false;
  bool started_ = false;  // has had the state
};

class ReaderHub : public std::enable_shared_from_this<ReaderHub> {
 public:
  // Switches the worker's watch on or off; false when the worker cannot be told.
  using Switch = std::function<bool(bool on)>;
  explicit ReaderHub(Switch watch) : switch_(std::move(watch)) {}

  // A new watcher; null when the worker cannot be told to watch.
  std::shared_ptr<ReaderWatcher> Subscribe();
  // A report from the worker (its reading thread); false, and nothing kept, when it names a
  // reader beyond kMaxReaderNameUnits or one reader more than kMaxReaders.
  bool Apply(const ipc::ReaderEvent& event);
  // The worker ended: every watcher ends, and the worker is never told anything again.
  void Close();
  // The worker's connection goes away: no switch runs after this returns. Never call it from
  // inside the switch.
  void Detach();

 private:
  friend class HubWatcher;
  void Leave(HubWatcher* watcher);

  std::mutex switching_;  // taken before lock_: the worker hears on and off in order
  Switch switch_;

  std::mutex lock_;
  bool closed_ = false;
  std::list<HubWatcher*> watchers_;
  bool synced_ = false;
  ReaderState state_;  // the readers in PC/SC's order
};

}  // namespace qardex::service
