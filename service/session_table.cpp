#include "service/session_table.h"

namespace qardex::service {

SessionTable::SessionTable(SteadyClock clock, RandomSource random, std::size_t capacity,
                           std::chrono::steady_clock::duration idleLimit)
    : clock_(std::move(clock)),
      random_(std::move(random)),
      capacity_(capacity),
      idleLimit_(idleLimit) {}

void SessionTable::DropExpired(std::chrono::steady_clock::time_point now) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (now - it->second.lastUse >= idleLimit_) {
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
}

SessionTable::Opened SessionTable::Open(
    const std::function<std::unique_ptr<MethodSession>()>& make) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::lock_guard<std::mutex> hold(lock_);
  const auto now = clock_();
  DropExpired(now);
  if (entries_.size() >= capacity_) return {OpenStatus::Full, {}};

  std::string id;
  do {
    unsigned char bytes[kSessionIdBytes];
    if (!random_ || !random_(bytes, sizeof bytes)) return {OpenStatus::Unavailable, {}};
    id.clear();
    for (const unsigned char b : bytes) {
      id.push_back(kHex[b >> 4]);
      id.push_back(kHex[b & 0xF]);
    }
  } while (entries_.count(id) != 0);

  auto slot = std::make_shared<SessionSlot>();
  slot->session = make();
  if (!slot->session) return {OpenStatus::Unavailable, {}};
  entries_.emplace(id, Entry{std::move(slot), now});
  return {OpenStatus::Opened, id};
}

std::shared_ptr<SessionSlot> SessionTable::Find(std::string_view id) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto now = clock_();
  DropExpired(now);
  const auto it = entries_.find(id);
  if (it == entries_.end()) return nullptr;
  it->second.lastUse = now;
  return it->second.slot;
}

bool SessionTable::Close(std::string_view id) {
  std::lock_guard<std::mutex> hold(lock_);
  DropExpired(clock_());
  const auto it = entries_.find(id);
  if (it == entries_.end()) return false;
  entries_.erase(it);
  return true;
}

std::size_t SessionTable::Count() {
  std::lock_guard<std::mutex> hold(lock_);
  DropExpired(clock_());
  return entries_.size();
}

}  // namespace qardex::service
