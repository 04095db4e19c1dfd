// A TCP connection whose owner is being looked for, shared by the Linux side (/proc) and the
// Windows side (Wine's handle table) of the module. Plain C++: no Windows or Linux headers.
#ifndef QARDEX_TCP_OWNER_CONNECTION_H
#define QARDEX_TCP_OWNER_CONNECTION_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace tcp_owner {

enum class Family { ipv4, ipv6 };

constexpr std::size_t AddressBytes(Family family) { return family == Family::ipv4 ? 4 : 16; }

// The address in network byte order (IPv4 in the first four bytes, the rest zero) and the port
// as a number.
struct Endpoint {
  std::array<uint8_t, 16> address{};
  uint16_t port = 0;

  bool operator==(const Endpoint& other) const {
    return port == other.port && address == other.address;
  }
};

// Who holds the socket's Unix descriptor: nobody that /proc shows, a process of this Wine
// installation (wineserver or a Windows program), or only other Unix programs.
enum class Holder { none, wine, other };

struct ConnectionQuery {
  Endpoint local;
  Endpoint remote;  // all zero for a listening socket
  uint64_t inode = 0;
  Holder holder = Holder::none;
  uint32_t windows_pid = 0;  // a Windows process holding a handle of the socket
};

}  // namespace tcp_owner

#endif
