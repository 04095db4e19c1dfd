#include "worker/cancel_table.h"

namespace qardex::worker {

void CancelTable::Waiting(std::uint32_t callId) {
  std::lock_guard<std::mutex> hold(lock_);
  waiting_[callId] = false;
}

void CancelTable::Cancel(std::uint32_t callId) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto it = waiting_.find(callId);
  if (it != waiting_.end()) it->second = true;
}

bool CancelTable::Cancelled(std::uint32_t callId) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto it = waiting_.find(callId);
  return it != waiting_.end() && it->second;
}

void CancelTable::Started(std::uint32_t callId) {
  std::lock_guard<std::mutex> hold(lock_);
  waiting_.erase(callId);
}

}  // namespace qardex::worker
