#include "protocol/reader_hub.h"

#include <algorithm>
#include <utility>

namespace qardex::service {

HubWatcher::~HubWatcher() {
  try {
    hub_->Leave(this);
  } catch (...) {  // the worker keeps watching until it ends or the next watcher leaves
  }
}

ReaderWatcher::Next HubWatcher::Wait(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> hold(hub_->lock_);
  ready_.wait_for(hold, limit, [this] { return ended_ || !queue_.empty(); });
  if (!queue_.empty()) {
    Next next{Status::Event, std::move(queue_.front())};
    queue_.pop_front();
    return next;
  }
  return {ended_ ? Status::Ended : Status::Nothing, {}};
}

void HubWatcher::Push(ReaderEvent event) {
  if (ended_) return;
  if (queue_.size() >= kMaxQueuedReaderEvents) return End();
  queue_.push_back(std::move(event));
  ready_.notify_all();
}

void HubWatcher::End() {
  ended_ = true;
  ready_.notify_all();
}

std::shared_ptr<ReaderWatcher> ReaderHub::Subscribe() {
  std::lock_guard<std::mutex> switching(switching_);
  auto watcher = std::make_shared<HubWatcher>(shared_from_this());
  bool first = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (closed_) return nullptr;  // leaves nothing: the watcher was never listed
    first = watchers_.empty();
    if (first) {
      synced_ = false;
      state_.readers.clear();
    } else if (synced_) {
      watcher->Push(state_);
      watcher->started_ = true;
    }
    watchers_.push_back(watcher.get());
  }
  if (first && !(switch_ && switch_(true))) {
    std::lock_guard<std::mutex> hold(lock_);
    watchers_.remove(watcher.get());
    return nullptr;
  }
  return watcher;
}

void ReaderHub::Leave(HubWatcher* watcher) {
  const auto listed = [&] {
    return std::find(watchers_.begin(), watchers_.end(), watcher) != watchers_.end();
  };
  {
    // A watcher Subscribe gave up on was never listed, and Subscribe holds `switching_` then.
    std::lock_guard<std::mutex> hold(lock_);
    if (!listed()) return;
  }
  std::lock_guard<std::mutex> switching(switching_);
  {
    std::lock_guard<std::mutex> hold(lock_);
    const auto it = std::find(watchers_.begin(), watchers_.end(), watcher);
    if (it == watchers_.end()) return;
    watchers_.erase(it);
    if (!watchers_.empty() || closed_) return;
  }
  if (switch_) switch_(false);
}

void ReaderHub::Close() {
  std::lock_guard<std::mutex> hold(lock_);
  closed_ = true;
  for (HubWatcher* watcher : watchers_) watcher->End();
}

void ReaderHub::Detach() {
  std::lock_guard<std::mutex> switching(switching_);
  switch_ = nullptr;
}

bool ReaderHub::Apply(const ipc::ReaderEvent& event) {
  using Kind = ipc::ReaderEvent::Kind;
  if (event.reader.size() > kMaxReaderNameUnits) return false;
  std::lock_guard<std::mutex> hold(lock_);
  if (watchers_.empty() || closed_) return true;  // a report from a watch being switched off
  if (event.kind == Kind::Synced) {
    synced_ = true;
    for (HubWatcher* watcher : watchers_) {
      if (watcher->started_) continue;
      watcher->Push(state_);
      watcher->started_ = true;
    }
    return true;
  }
  std::vector<ReaderStatus>& readers = state_.readers;
  const auto found = std::find_if(readers.begin(), readers.end(), [&](const ReaderStatus& reader) {
    return reader.name == event.reader;
  });
  if (event.kind == Kind::ReaderAdded && found == readers.end()) {
    if (readers.size() >= kMaxReaders) return false;
    const std::size_t at = std::min<std::size_t>(std::max(event.index, 0), readers.size());
    readers.insert(readers.begin() + static_cast<std::ptrdiff_t>(at), ReaderStatus{event.reader});
  } else if (found != readers.end()) {
    if (event.kind == Kind::ReaderRemoved) readers.erase(found);
    if (event.kind == Kind::CardInserted) *found = ReaderStatus{found->name, true, event.hc};
    if (event.kind == Kind::CardRemoved) *found = ReaderStatus{found->name, false, false};
  }
  if (!synced_) return true;
  const ReaderChange change{event.kind, static_cast<std::size_t>(std::max(event.index, 0)),
                            event.reader, event.hc};
  for (HubWatcher* watcher : watchers_) {
    if (watcher->started_) watcher->Push(change);
  }
  return true;
}

}  // namespace qardex::service
