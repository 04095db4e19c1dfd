// tcp_owner_check.exe: checks under Wine, with the TCP owner stand-in installed, the owners
// GetExtendedTcpTable names for a listener and both ends of a loopback connection whose client
// is this process or a child copy of it (mode "wine"), or a program that is no Windows program
// (mode "unix-client": prints "port N" and waits; its end counts as this process's). Prints each
// failed expectation and "N passed, M failed"; exits 1 on failures, 2 on misuse.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "testbed/procstat/unique_handle.h"
#include "testbed/winscard_bridge/tests/check_log.h"

namespace {

constexpr DWORD kWaitMs = 20000;  // a client connecting, a child ending

class UniqueSocket {
 public:
  explicit UniqueSocket(SOCKET socket) : socket_(socket) {}
  UniqueSocket(const UniqueSocket&) = delete;
  UniqueSocket& operator=(const UniqueSocket&) = delete;
  ~UniqueSocket() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
  }
  SOCKET get() const { return socket_; }

 private:
  SOCKET socket_;
};

struct Ends {
  sockaddr_storage local{};
  sockaddr_storage remote{};  // a listener's is the family's zero address
};

Ends EndsOf(SOCKET socket, int family) {
  Ends ends;
  int length = sizeof(ends.local);
  getsockname(socket, reinterpret_cast<sockaddr*>(&ends.local), &length);
  length = sizeof(ends.remote);
  if (getpeername(socket, reinterpret_cast<sockaddr*>(&ends.remote), &length) != 0)
    ends.remote.ss_family = static_cast<ADDRESS_FAMILY>(family);
  return ends;
}

sockaddr_storage Loopback(int family, u_short port) {
  sockaddr_storage address{};
  address.ss_family = static_cast<ADDRESS_FAMILY>(family);
  reinterpret_cast<sockaddr_in&>(address).sin_port = htons(port);  // same place in both
  if (family == AF_INET)
    reinterpret_cast<sockaddr_in&>(address).sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  else
    reinterpret_cast<sockaddr_in6&>(address).sin6_addr = in6addr_loopback;
  return address;
}

// The port lies at the same place in both address layouts.
template <typename Address>
bool SameEnd(const Address& address, DWORD port, const sockaddr_storage& end) {
  const auto& in = reinterpret_cast<const sockaddr_in&>(end);
  const void* bytes = sizeof(Address) == 4 ? static_cast<const void*>(&in.sin_addr)
                                           : &reinterpret_cast<const sockaddr_in6&>(end).sin6_addr;
  return std::memcmp(&address, bytes, sizeof(Address)) == 0 && LOWORD(port) == in.sin_port;
}

// The owner of the row of `ends` in a fresh table; false if it is not listed.
template <typename Table, typename Row>
bool FindOwner(ULONG family, TCP_TABLE_CLASS table_class, const Ends& ends, DWORD& owner) {
  std::vector<unsigned char> buffer(1 << 20);  // far more rows than a private namespace has
  DWORD size = static_cast<DWORD>(buffer.size());
  if (GetExtendedTcpTable(buffer.data(), &size, FALSE, family, table_class, 0) != NO_ERROR)
    return false;
  const auto* table = reinterpret_cast<const Table*>(buffer.data());
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const Row& row = table->table[i];
    bool match;
    if constexpr (std::is_same_v<Row, MIB_TCP6ROW_OWNER_PID>)
      match = SameEnd(row.ucLocalAddr, row.dwLocalPort, ends.local) &&
              SameEnd(row.ucRemoteAddr, row.dwRemotePort, ends.remote);
    else
      match = SameEnd(row.dwLocalAddr, row.dwLocalPort, ends.local) &&
              SameEnd(row.dwRemoteAddr, row.dwRemotePort, ends.remote);
    if (match) {
      owner = row.dwOwningPid;
      return true;
    }
  }
  return false;
}

// One table class and row layout each; all list connections, some listeners too.
struct Lookup {
  const char* name;
  int family;
  TCP_TABLE_CLASS table_class;
  bool (*find)(ULONG, TCP_TABLE_CLASS, const Ends&, DWORD&);
  bool listeners;
};

const Lookup kLookups[] = {
    {"IPv4 connections", AF_INET, TCP_TABLE_OWNER_PID_CONNECTIONS,
     FindOwner<MIB_TCPTABLE_OWNER_PID, MIB_TCPROW_OWNER_PID>, false},
    {"IPv4 all", AF_INET, TCP_TABLE_OWNER_PID_ALL,
     FindOwner<MIB_TCPTABLE_OWNER_PID, MIB_TCPROW_OWNER_PID>, true},
    {"IPv4 modules", AF_INET, TCP_TABLE_OWNER_MODULE_ALL,
     FindOwner<MIB_TCPTABLE_OWNER_MODULE, MIB_TCPROW_OWNER_MODULE>, true},
    {"IPv6 all", AF_INET6, TCP_TABLE_OWNER_PID_ALL,
     FindOwner<MIB_TCP6TABLE_OWNER_PID, MIB_TCP6ROW_OWNER_PID>, true},
};

void ExpectOwner(CheckLog& log, const Lookup& lookup, const Ends& ends, DWORD want,
                 const char* what) {
  DWORD owner = 0;
  const std::string name = std::string(lookup.name) + ": " + what;
  if (log.Expect(lookup.find(lookup.family, lookup.table_class, ends, owner), name + " listed"))
    log.ExpectEqual(owner, want, name + "'s owner");
}

// Accepts the client, then checks the owners of the listener and of both ends in every table
// of the family. No byte crosses the connection: Wine alone reports most of them as 0.
void ExpectOwners(CheckLog& log, SOCKET listener, int family, DWORD client_pid) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(listener, &readable);
  timeval limit{kWaitMs / 1000, 0};
  const bool ready = select(0, &readable, nullptr, nullptr, &limit) == 1;
  const UniqueSocket server(ready ? accept(listener, nullptr, nullptr) : INVALID_SOCKET);
  if (!log.Expect(server.get() != INVALID_SOCKET, "the client connected")) return;
  const Ends listening = EndsOf(listener, family);
  const Ends server_ends = EndsOf(server.get(), family);
  const Ends client_ends{server_ends.remote, server_ends.local};
  for (const Lookup& lookup : kLookups) {
    if (lookup.family != family) continue;
    if (lookup.listeners) ExpectOwner(log, lookup, listening, GetCurrentProcessId(), "listener");
    ExpectOwner(log, lookup, client_ends, client_pid, "client end");
    ExpectOwner(log, lookup, server_ends, GetCurrentProcessId(), "accepted end");
  }
}

enum class Client { self, child, unix_program };

void CheckConnection(CheckLog& log, int family, Client client_kind) {
  const UniqueSocket listener(socket(family, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_storage address = Loopback(family, 0);
  bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
  listen(listener.get(), 4);
  int length = sizeof(address);
  getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length);
  const u_short port = ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  const UniqueSocket client(socket(family, SOCK_STREAM, IPPROTO_TCP));
  if (client_kind == Client::self) {
    connect(client.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    ExpectOwners(log, listener.get(), family, GetCurrentProcessId());
  } else if (client_kind == Client::child) {
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, MAX_PATH - 1);
    std::string command = "\"" + std::string(program) + "\" connect " + std::to_string(port) + " " +
                          std::to_string(family);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child{};
    if (!log.Expect(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &child) != FALSE,
                    "child started"))
      return;
    const UniqueHandle child_process(child.hProcess);
    const UniqueHandle child_thread(child.hThread);
    ExpectOwners(log, listener.get(), family, child.dwProcessId);  // closing ends the child
    log.Expect(WaitForSingleObject(child_process.get(), kWaitMs) == WAIT_OBJECT_0, "child ended");
  } else {
    std::printf("port %u\n", port);
    std::fflush(stdout);
    ExpectOwners(log, listener.get(), family, GetCurrentProcessId());
  }
}

int ConnectAndWait(int port, int family) {
  const UniqueSocket client(socket(family, SOCK_STREAM, IPPROTO_TCP));
  const DWORD limit = kWaitMs;
  setsockopt(client.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit),
             sizeof(limit));
  const sockaddr_storage server = Loopback(family, static_cast<u_short>(port));
  char byte;
  if (connect(client.get(), reinterpret_cast<const sockaddr*>(&server), sizeof(server)) != 0)
    return 2;
  return recv(client.get(), &byte, 1, 0) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  WSADATA winsock;
  if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0) return 2;
  const std::string mode = argc >= 2 ? argv[1] : "";
  if (mode == "connect" && argc == 4) return ConnectAndWait(std::atoi(argv[2]), std::atoi(argv[3]));
  CheckLog log;
  if (mode == "wine" && argc == 2) {
    for (const int family : {AF_INET, AF_INET6}) {
      log.StartGroup(family == AF_INET ? "own IPv4" : "own IPv6");
      CheckConnection(log, family, Client::self);
      log.StartGroup(family == AF_INET ? "child IPv4" : "child IPv6");
      CheckConnection(log, family, Client::child);
    }
  } else if (mode == "unix-client" && argc == 2) {
    log.StartGroup("unix client");
    CheckConnection(log, AF_INET, Client::unix_program);
  } else {
    std::printf("usage: tcp_owner_check.exe wine | unix-client | connect PORT FAMILY\n");
    return 2;
  }
  std::printf("%d passed, %d failed\n", log.passed(), log.failed());
  return log.failed() == 0 ? 0 : 1;
}
