#include "protocol/reader_hub.h"

#include <algorithm>
#include <utility>

#include "protocol/json_text.h"

namespace qardex::service {

namespace {

const char* TypeOf(ipc::ReaderEvent::Kind kind) {
  switch (kind) {
    case ipc::ReaderEvent::Kind::ReaderAdded:
      return "reader-added";
    case ipc::ReaderEvent::Kind::ReaderRemoved:
      return "reader-removed";
    case ipc::ReaderEvent::Kind::CardInserted:
      return "card-inserted";
    case ipc::ReaderEvent::Kind::CardRemoved:
      return "card-removed";
    default:
      return "synced";
  }
}

void AppendReader(std::string& out, std::size_t index, const std::u16string& name) {
  out += "\"index\":" + std::to_string(index) + ",\"reader\":";
  AppendJsonString(out, name);
}

std::string EventJson(const ipc::ReaderEvent& event) {
  std::string out = "{\"type\":\"";
  out += TypeOf(event.kind);
  out += "\",";
  AppendReader(out, static_cast<std::size_t>(std::max(event.index, 0)), event.reader);
  if (event.kind == ipc::ReaderEvent::Kind::CardInserted) {
    out += event.hc ? ",\"hc\":true" : ",\"hc\":false";
  }
  out += "}";
  return out;
}

}  // namespace

ReaderWatcher::~ReaderWatcher() {
  try {
    hub_->Leave(this);
  } catch (...) {  // the worker keeps watching until it ends or the next watcher leaves
  }
}

ReaderWatcher::Status ReaderWatcher::Next(std::string& json, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> hold(hub_->lock_);
  ready_.wait_for(hold, limit, [this] { return ended_ || !queue_.empty(); });
  if (!queue_.empty()) {
    json = std::move(queue_.front());
    queue_.pop_front();
    return Status::Message;
  }
  return ended_ ? Status::Ended : Status::Nothing;
}

void ReaderWatcher::Push(std::string json) {
  if (ended_) return;
  if (queue_.size() >= kMaxQueuedReaderEvents) return End();
  queue_.push_back(std::move(json));
  ready_.notify_all();
}

void ReaderWatcher::End() {
  ended_ = true;
  ready_.notify_all();
}

std::shared_ptr<ReaderWatcher> ReaderHub::Subscribe() {
  std::lock_guard<std::mutex> switching(switching_);
  auto watcher = std::make_shared<ReaderWatcher>(shared_from_this());
  bool first = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (closed_) return nullptr;  // leaves nothing: the watcher was never listed
    first = watchers_.empty();
    if (first) {
      synced_ = false;
      readers_.clear();
    } else if (synced_) {
      watcher->Push(StateJson());
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

void ReaderHub::Leave(ReaderWatcher* watcher) {
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
  for (ReaderWatcher* watcher : watchers_) watcher->End();
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
    const std::string state = StateJson();
    for (ReaderWatcher* watcher : watchers_) {
      if (watcher->started_) continue;
      watcher->Push(state);
      watcher->started_ = true;
    }
    return true;
  }
  const auto found = std::find_if(readers_.begin(), readers_.end(), [&](const Reader& reader) {
    return reader.name == event.reader;
  });
  if (event.kind == Kind::ReaderAdded && found == readers_.end()) {
    if (readers_.size() >= kMaxReaders) return false;
    const std::size_t at = std::min<std::size_t>(std::max(event.index, 0), readers_.size());
    readers_.insert(readers_.begin() + static_cast<std::ptrdiff_t>(at), Reader{event.reader});
  } else if (found != readers_.end()) {
    if (event.kind == Kind::ReaderRemoved) readers_.erase(found);
    if (event.kind == Kind::CardInserted) *found = Reader{found->name, true, event.hc};
    if (event.kind == Kind::CardRemoved) *found = Reader{found->name, false, false};
  }
  if (!synced_) return true;
  const std::string json = EventJson(event);
  for (ReaderWatcher* watcher : watchers_) {
    if (watcher->started_) watcher->Push(json);
  }
  return true;
}

std::string ReaderHub::StateJson() const {
  std::string out = "{\"type\":\"state\",\"readers\":[";
  for (std::size_t i = 0; i < readers_.size(); ++i) {
    if (i > 0) out += ",";
    out += "{";
    AppendReader(out, i, readers_[i].name);
    out += readers_[i].card ? ",\"card\":true" : ",\"card\":false";
    out += readers_[i].hc ? ",\"hc\":true}" : ",\"hc\":false}";
  }
  out += "]}";
  return out;
}

}  // namespace qardex::service
