// Who owns a loopback connection, by the system's table of TCP connections, and reads of that
// table shared between the connection threads that ask at the same time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace qardex::service {

struct TcpRow {
  std::uint32_t localAddress = 0;  // IPv4, host byte order
  std::uint16_t localPort = 0;
  std::uint32_t remoteAddress = 0;
  std::uint16_t remotePort = 0;
  std::uint32_t owner = 0;  // process id; 0 when the system does not know it
};
using TcpTable = std::vector<TcpRow>;

// The process that owns the connection from 127.0.0.1:peerPort to 127.0.0.1:servicePort; nothing
// when no row says so, the row names no owner, or two rows name different owners.
std::optional<std::uint32_t> OwnerOfLoopbackConnection(const TcpTable& table,
                                                       std::uint16_t peerPort,
                                                       std::uint16_t servicePort);

// Reading the table takes longer the more connections the machine has, and a burst of clients
// would read it once each. Here one read runs at a time and every thread waiting when it ends
// shares the next one. A thread only gets a read that began after it asked, so never a table from
// before its own connection existed, whose row for that port may be someone else's.
class SharedTableReads {
 public:
  using Read = std::function<std::optional<TcpTable>()>;
  SharedTableReads(Read read, std::chrono::milliseconds waitLimit);

  // A table read that began after this call; null when that read failed or none came within the
  // wait limit.
  std::shared_ptr<const TcpTable> Fresh();

 private:
  const Read read_;
  const std::chrono::milliseconds waitLimit_;
  std::mutex lock_;
  std::condition_variable finished_;
  bool reading_ = false;
  std::uint64_t started_ = 0;  // reads begun so far; a read is known by its number
  std::uint64_t latestNumber_ = 0;
  std::shared_ptr<const TcpTable> latest_;
};

}  // namespace qardex::service
