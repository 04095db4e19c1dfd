#include "protocol/session_table.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "crypto/hex_text.h"
#include "protocol/origin_lock.h"

namespace qardex::service {

namespace {

// Sessions are bound to and counted by the canonical origin: a variant of an origin with its
// default port written out, or in other letter case, is the same page.
SessionOwner Keyed(SessionOwner owner) {
  if (std::optional<std::string> canonical = CanonicalOrigin(owner.origin)) {
    owner.origin = std::move(*canonical);
  }
  return owner;
}

}  // namespace

SessionTable::SessionTable(SteadyClock clock, RandomSource random, std::size_t capacity,
                           std::chrono::steady_clock::duration idleLimit, std::size_t perOwner,
                           std::size_t perWindowsSession)
    : clock_(std::move(clock)),
      random_(std::move(random)),
      capacity_(capacity),
      idleLimit_(idleLimit),
      perOwner_(perOwner),
      perWindowsSession_(perWindowsSession) {}

void SessionTable::DropExpired(std::chrono::steady_clock::time_point now, Dropped& dropped) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (now - it->second.lastUse >= idleLimit_) {
      dropped.push_back(std::move(it->second.live));
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
}

// The quota is per origin and Windows session; the user does not widen it.
std::size_t SessionTable::CountOf(const SessionOwner& owner) const {
  std::size_t count = 0;
  for (const auto& [id, entry] : entries_) {
    if (entry.owner.origin == owner.origin && entry.owner.windowsSession == owner.windowsSession) {
      ++count;
    }
  }
  return count;
}

std::size_t SessionTable::CountIn(std::uint32_t windowsSession) const {
  return static_cast<std::size_t>(std::count_if(
      entries_.begin(), entries_.end(),
      [&](const auto& entry) { return entry.second.owner.windowsSession == windowsSession; }));
}

SessionTable::Opened SessionTable::Open(
    const SessionOwner& caller, const std::function<std::unique_ptr<MethodSession>()>& make) {
  const SessionOwner owner = Keyed(caller);
  Dropped dropped;
  std::lock_guard<std::mutex> hold(lock_);
  const auto now = clock_();
  DropExpired(now, dropped);
  if (entries_.size() >= capacity_ || CountIn(owner.windowsSession) >= perWindowsSession_ ||
      CountOf(owner) >= perOwner_) {
    return {OpenStatus::Full, {}};
  }

  std::string id;
  do {
    unsigned char bytes[kSessionIdBytes];
    if (!random_ || !random_(bytes, sizeof bytes)) return {OpenStatus::Unavailable, {}};
    id = crypto::HexLower(bytes, sizeof bytes);
  } while (entries_.count(id) != 0);

  auto live = std::make_shared<LiveSession>();
  live->session = make();
  if (!live->session) return {OpenStatus::Unavailable, {}};
  entries_.emplace(id, Entry{owner, std::move(live), now});
  return {OpenStatus::Opened, id};
}

std::shared_ptr<LiveSession> SessionTable::Find(std::string_view id, const SessionOwner& caller) {
  const SessionOwner owner = Keyed(caller);
  Dropped dropped;
  std::lock_guard<std::mutex> hold(lock_);
  const auto now = clock_();
  DropExpired(now, dropped);
  const auto it = entries_.find(id);
  if (it == entries_.end() || !(it->second.owner == owner)) return nullptr;
  it->second.lastUse = now;
  return it->second.live;
}

bool SessionTable::Close(std::string_view id, const SessionOwner& caller) {
  const SessionOwner owner = Keyed(caller);
  Dropped dropped;
  std::lock_guard<std::mutex> hold(lock_);
  DropExpired(clock_(), dropped);
  const auto it = entries_.find(id);
  if (it == entries_.end() || !(it->second.owner == owner)) return false;
  dropped.push_back(std::move(it->second.live));
  entries_.erase(it);
  return true;
}

void SessionTable::ExpireIdle() {
  Dropped dropped;
  std::lock_guard<std::mutex> hold(lock_);
  DropExpired(clock_(), dropped);
}

std::size_t SessionTable::Count() {
  Dropped dropped;
  std::lock_guard<std::mutex> hold(lock_);
  DropExpired(clock_(), dropped);
  return entries_.size();
}

}  // namespace qardex::service
