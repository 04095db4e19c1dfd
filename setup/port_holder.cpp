#include "setup/port_holder.h"

namespace qardex::setup {

PortHolder WhoHoldsPort(const std::vector<ListeningSocket>& sockets, std::uint16_t port,
                        std::optional<std::uint32_t> serviceProcess) {
  bool byService = false;
  for (const ListeningSocket& socket : sockets) {
    if (socket.port != port ||
        (socket.address != kLoopbackAddress && socket.address != kAnyAddress)) {
      continue;
    }
    if (!serviceProcess || socket.processId == 0 || socket.processId != *serviceProcess) {
      return {PortHolding::kByOther, socket.processId};
    }
    byService = byService || socket.address == kLoopbackAddress;
  }
  return {byService ? PortHolding::kByService : PortHolding::kFree, 0};
}

}  // namespace qardex::setup
