#include "https/connection_owners.h"

namespace qardex::service {

namespace {

constexpr std::uint32_t kLoopback = 0x7F000001;  // 127.0.0.1

}  // namespace

std::optional<std::uint32_t> OwnerOfLoopbackConnection(const TcpTable& table,
                                                       std::uint16_t peerPort,
                                                       std::uint16_t servicePort) {
  std::optional<std::uint32_t> owner;
  for (const TcpRow& row : table) {
    if (row.localAddress != kLoopback || row.localPort != peerPort ||
        row.remoteAddress != kLoopback || row.remotePort != servicePort) {
      continue;
    }
    if (row.owner == 0 || (owner && *owner != row.owner)) return std::nullopt;
    owner = row.owner;
  }
  return owner;
}

SharedTableReads::SharedTableReads(Read read, std::chrono::milliseconds waitLimit)
    : read_(std::move(read)), waitLimit_(waitLimit) {}

std::shared_ptr<const TcpTable> SharedTableReads::Fresh() {
  std::unique_lock<std::mutex> hold(lock_);
  const std::uint64_t needed = started_ + 1;
  const auto deadline = std::chrono::steady_clock::now() + waitLimit_;
  while (latestNumber_ < needed) {
    if (!reading_) {
      reading_ = true;
      const std::uint64_t number = ++started_;
      hold.unlock();
      std::shared_ptr<const TcpTable> table;
      try {
        if (std::optional<TcpTable> rows = read_()) {
          table = std::make_shared<const TcpTable>(std::move(*rows));
        }
      } catch (...) {
        // A failed read: null for every thread that waited for it.
      }
      hold.lock();
      reading_ = false;
      latestNumber_ = number;
      latest_ = table;
      finished_.notify_all();
      return table;
    }
    if (finished_.wait_until(hold, deadline) == std::cv_status::timeout && latestNumber_ < needed) {
      return nullptr;
    }
  }
  return latest_;
}

}  // namespace qardex::service
