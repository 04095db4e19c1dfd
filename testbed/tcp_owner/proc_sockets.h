// The Linux side of the owner lookup: which Unix processes hold the socket of a TCP connection.
#ifndef QARDEX_TCP_OWNER_PROC_SOCKETS_H
#define QARDEX_TCP_OWNER_PROC_SOCKETS_H

#include <vector>

#include "connection.h"

namespace tcp_owner {

// Sets inode and holder of every query: one read of /proc/net/tcp (or tcp6) and at most one pass
// over the descriptors of /proc's processes. What it cannot find stays 0 and Holder::none.
// A holder counts as Wine when its program lies in the folder of this process's
// own program (the Wine loader's folder, which holds wineserver too).
void FindSocketHolders(Family family, std::vector<ConnectionQuery>& queries) noexcept;

}  // namespace tcp_owner

#endif
