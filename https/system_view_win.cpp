#include "https/system_view_win.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <vector>

#include "protocol/user_token_win.h"

namespace qardex::service {

namespace {

// The table grows between the size query and the read when connections open meanwhile.
constexpr int kTableAttempts = 4;
constexpr DWORD kFirstTableBytes = 16 * 1024;
constexpr DWORD kLargestTableBytes = 16 * 1024 * 1024;
// How long a connection thread waits for a read of the table that others started.
constexpr std::chrono::seconds kTableWaitLimit{5};

// The system's IPv4 connections with their owners; nothing when it cannot be read.
std::optional<TcpTable> ConnectionsWithOwners() {
  DWORD capacity = kFirstTableBytes;
  for (int attempt = 0; attempt < kTableAttempts; ++attempt) {
    // DWORD storage keeps the table's alignment.
    std::vector<DWORD> storage(capacity / sizeof(DWORD) + 1);
    DWORD size = static_cast<DWORD>(storage.size() * sizeof(DWORD));
    const DWORD status = GetExtendedTcpTable(storage.data(), &size, FALSE, AF_INET,
                                             TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
    if (status == ERROR_INSUFFICIENT_BUFFER) {
      if (size > kLargestTableBytes) return std::nullopt;
      capacity = size + size / 4;  // room for connections opened before the next attempt
      continue;
    }
    if (status != NO_ERROR) return std::nullopt;
    const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(storage.data());
    const std::size_t header = offsetof(MIB_TCPTABLE_OWNER_PID, table);
    const std::size_t available = storage.size() * sizeof(DWORD);
    if (available < header ||
        table->dwNumEntries > (available - header) / sizeof(MIB_TCPROW_OWNER_PID)) {
      return std::nullopt;
    }
    TcpTable rows;
    rows.reserve(table->dwNumEntries);
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
      const MIB_TCPROW_OWNER_PID& row = table->table[i];
      // Addresses in network byte order; ports in the low 16 bits, in network byte order too.
      rows.push_back({ntohl(row.dwLocalAddr), ntohs(static_cast<u_short>(row.dwLocalPort)),
                      ntohl(row.dwRemoteAddr), ntohs(static_cast<u_short>(row.dwRemotePort)),
                      row.dwOwningPid});
    }
    return rows;
  }
  return std::nullopt;
}

}  // namespace

WindowsSystemView::WindowsSystemView()
    : connections_(ConnectionsWithOwners,
                   std::chrono::duration_cast<std::chrono::milliseconds>(kTableWaitLimit)) {}

std::optional<std::uint32_t> WindowsSystemView::OwnerOfConnection(std::uint16_t peerPort,
                                                                  std::uint16_t servicePort) {
  const std::shared_ptr<const TcpTable> table = connections_.Fresh();
  if (!table) return std::nullopt;
  return OwnerOfLoopbackConnection(*table, peerPort, servicePort);
}

// The process is opened once; its token tells both its session and its user.
ProcessIdentity WindowsSystemView::IdentityOfProcess(std::uint32_t processId) {
  const common::KernelHandle process(
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return {};
  HANDLE raw = nullptr;
  if (!OpenProcessToken(process.get(), TOKEN_QUERY, &raw)) return {};
  const common::KernelHandle token(raw);
  return {SessionOfToken(token.get()), UserSidOfToken(token.get())};
}

std::optional<std::string> WindowsSystemView::UserOfSession(std::uint32_t windowsSession) {
  const SessionUserToken user = QuerySessionUserToken(windowsSession);
  if (!user.token) return std::nullopt;
  return UserSidOfToken(user.token.get());
}

}  // namespace qardex::service
