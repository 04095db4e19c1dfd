#include "protocol/watch_limits.h"

#include <utility>

namespace qardex::service {

namespace {

template <class Map, class Key>
std::size_t HeldBy(const Map& counts, const Key& key) {
  const auto found = counts.find(key);
  return found == counts.end() ? 0 : found->second;
}

// Gives one place of `key` back; a key that holds none is forgotten.
template <class Map, class Key>
void GiveBack(Map& counts, const Key& key) {
  const auto found = counts.find(key);
  if (found != counts.end() && --found->second == 0) counts.erase(found);
}

}  // namespace

WatchLimits::WatchLimits(std::size_t perSession, std::size_t overall, std::size_t perWindowsSession)
    : perSessionLimit_(perSession),
      overallLimit_(overall),
      perWindowsSessionLimit_(perWindowsSession) {}

std::unique_ptr<WatchLimits::Place> WatchLimits::Admit(std::string_view session,
                                                       std::uint32_t windowsSession) {
  std::lock_guard<std::mutex> hold(counts_->lock);
  if (HeldBy(counts_->perSession, session) >= perSessionLimit_ ||
      HeldBy(counts_->perWindowsSession, windowsSession) >= perWindowsSessionLimit_ ||
      counts_->overall >= overallLimit_) {
    return nullptr;
  }
  auto place = std::make_unique<Place>(counts_, std::string(session), windowsSession);
  ++counts_->perSession[std::string(session)];
  ++counts_->perWindowsSession[windowsSession];
  ++counts_->overall;
  return place;
}

WatchLimits::Place::~Place() {
  std::lock_guard<std::mutex> hold(counts_->lock);
  GiveBack(counts_->perSession, session_);
  GiveBack(counts_->perWindowsSession, windowsSession_);
  --counts_->overall;
}

}  // namespace qardex::service
