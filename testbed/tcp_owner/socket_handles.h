// The Windows side of the owner lookup: the Windows process that holds a handle of a socket.
#ifndef QARDEX_TCP_OWNER_SOCKET_HANDLES_H
#define QARDEX_TCP_OWNER_SOCKET_HANDLES_H

#include <cstdint>
#include <vector>

#include "connection.h"

namespace tcp_owner {

// Windows' numbers of the address families (Linux numbers AF_INET6 differently).
constexpr uint16_t kWindowsAfInet = 2;
constexpr uint16_t kWindowsAfInet6 = 23;

// Sets windows_pid of every query held by Wine (Holder::wine) from Wine's system handle table:
// the first process listed with a socket handle whose local and peer names are the query's.
void FindHandleOwners(Family family, std::vector<ConnectionQuery>& queries) noexcept;

}  // namespace tcp_owner

#endif
