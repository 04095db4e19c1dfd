// Who holds the local service's port once the service has started: the system's listening TCP
// sockets (IPv4) behind a small interface, so that the installer's sequence runs against a fake
// in tests, and the decision over them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "setup/system_errors.h"

namespace qardex::setup {

inline constexpr std::uint32_t kLoopbackAddress = 0x7f000001;  // 127.0.0.1
inline constexpr std::uint32_t kAnyAddress = 0;                // 0.0.0.0

struct ListeningSocket {
  std::uint32_t address = kAnyAddress;  // host byte order
  std::uint16_t port = 0;
  std::uint32_t processId = 0;  // its owner
};

struct Listeners {
  std::vector<ListeningSocket> sockets;
  SystemError error = kNoError;  // the table could not be read
};

class ListenerTable {
 public:
  virtual ~ListenerTable() = default;
  virtual Listeners Read() = 0;
  // The name of the process's program file without its folder; nullopt when it cannot be read.
  virtual std::optional<std::string> ProgramName(std::uint32_t processId) = 0;
};

enum class PortHolding { kByService, kByOther, kFree };

struct PortHolder {
  PortHolding holding = PortHolding::kFree;
  std::uint32_t processId = 0;  // for kByOther
};

// A socket on `port` of 127.0.0.1, or of every address (it takes 127.0.0.1's connections while
// no one listens there), that another process owns makes the port another's; else a socket of
// `serviceProcess` on 127.0.0.1 makes it the service's. Owner 0 is never the service's: it is what
// a system reports when it does not know.
PortHolder WhoHoldsPort(const std::vector<ListeningSocket>& sockets, std::uint16_t port,
                        std::optional<std::uint32_t> serviceProcess);

}  // namespace qardex::setup
