// GetExtendedTcpTable of the stand-in (Winelib code): Wine's own table, from the copy of Wine's
// iphlpapi.dll installed beside it as iphlpwine.dll, with the owning process filled in where
// Wine leaves it 0:
//   - a socket that Wine holds (wineserver or a Windows program): the Windows process holding
//     a handle of it;
//   - a socket that only other Unix programs hold (curl, a browser, a native test client): the
//     calling process, which stands for a program of the signed-in user in the test bed;
//   - a socket nobody holds (TIME_WAIT) or whose holder is not found: still 0.
#include <windows.h>
#include <iphlpapi.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "connection.h"
#include "proc_sockets.h"
#include "socket_handles.h"

namespace {

using tcp_owner::ConnectionQuery;
using tcp_owner::Endpoint;
using tcp_owner::Family;
using tcp_owner::Holder;

using GetExtendedTcpTableFunction = DWORD(WINAPI*)(PVOID, PDWORD, BOOL, ULONG, TCP_TABLE_CLASS,
                                                   ULONG);

// Loaded once and kept for the life of the process, as the forwarded exports keep it anyway.
GetExtendedTcpTableFunction WineGetExtendedTcpTable() {
  static const GetExtendedTcpTableFunction function = [] {
    const HMODULE wine = LoadLibraryA("iphlpwine.dll");
    return wine ? reinterpret_cast<GetExtendedTcpTableFunction>(
                      reinterpret_cast<void*>(GetProcAddress(wine, "GetExtendedTcpTable")))
                : nullptr;
  }();
  return function;
}

// Rows carry the port in network order in the low 16 bits of a DWORD.
Endpoint MakeEndpoint(const void* address, std::size_t address_bytes, DWORD port) {
  Endpoint endpoint;
  std::memcpy(endpoint.address.data(), address, address_bytes);
  endpoint.port = static_cast<uint16_t>((port & 0xff) << 8 | (port >> 8 & 0xff));
  return endpoint;
}

template <typename Row>
ConnectionQuery Ipv4Query(const Row& row) {
  ConnectionQuery query;
  query.local = MakeEndpoint(&row.dwLocalAddr, 4, row.dwLocalPort);
  query.remote = MakeEndpoint(&row.dwRemoteAddr, 4, row.dwRemotePort);
  return query;
}

template <typename Row>
ConnectionQuery Ipv6Query(const Row& row) {
  ConnectionQuery query;
  query.local = MakeEndpoint(row.ucLocalAddr, 16, row.dwLocalPort);
  query.remote = MakeEndpoint(row.ucRemoteAddr, 16, row.dwRemotePort);
  return query;
}

DWORD OwnerOf(const ConnectionQuery& query) {
  switch (query.holder) {
    case Holder::wine:
      return query.windows_pid;
    case Holder::other:
      return GetCurrentProcessId();
    case Holder::none:
      break;
  }
  return 0;
}

// `capacity` is the size of the caller's buffer; a count that does not fit it is left alone.
template <typename Table, typename Row>
void FillOwners(void* buffer, DWORD capacity, Family family,
                ConnectionQuery (*describe)(const Row&)) {
  constexpr std::size_t kRowsAt = offsetof(Table, table);
  if (capacity < kRowsAt) return;
  Table* table = static_cast<Table*>(buffer);
  if (table->dwNumEntries > (capacity - kRowsAt) / sizeof(Row)) return;
  std::vector<Row*> rows;
  std::vector<ConnectionQuery> queries;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    Row& row = table->table[i];
    if (row.dwOwningPid != 0) continue;
    rows.push_back(&row);
    queries.push_back(describe(row));
  }
  if (rows.empty()) return;
  tcp_owner::FindSocketHolders(family, queries);
  tcp_owner::FindHandleOwners(family, queries);
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i]->dwOwningPid = OwnerOf(queries[i]);
}

void FillMissingOwners(void* table, DWORD capacity, ULONG family, TCP_TABLE_CLASS table_class) {
  const bool ipv4 = family == tcp_owner::kWindowsAfInet;
  if (!ipv4 && family != tcp_owner::kWindowsAfInet6) return;
  switch (table_class) {
    case TCP_TABLE_OWNER_PID_LISTENER:
    case TCP_TABLE_OWNER_PID_CONNECTIONS:
    case TCP_TABLE_OWNER_PID_ALL:
      if (ipv4)
        FillOwners<MIB_TCPTABLE_OWNER_PID, MIB_TCPROW_OWNER_PID>(table, capacity, Family::ipv4,
                                                                 Ipv4Query);
      else
        FillOwners<MIB_TCP6TABLE_OWNER_PID, MIB_TCP6ROW_OWNER_PID>(table, capacity, Family::ipv6,
                                                                   Ipv6Query);
      return;
    case TCP_TABLE_OWNER_MODULE_LISTENER:
    case TCP_TABLE_OWNER_MODULE_CONNECTIONS:
    case TCP_TABLE_OWNER_MODULE_ALL:
      if (ipv4)
        FillOwners<MIB_TCPTABLE_OWNER_MODULE, MIB_TCPROW_OWNER_MODULE>(table, capacity,
                                                                       Family::ipv4, Ipv4Query);
      else
        FillOwners<MIB_TCP6TABLE_OWNER_MODULE, MIB_TCP6ROW_OWNER_MODULE>(table, capacity,
                                                                         Family::ipv6, Ipv6Query);
      return;
    default:
      return;
  }
}

}  // namespace

extern "C" DWORD WINAPI GetExtendedTcpTable(PVOID table, PDWORD size, BOOL order, ULONG family,
                                            TCP_TABLE_CLASS table_class, ULONG reserved) {
  const GetExtendedTcpTableFunction wine = WineGetExtendedTcpTable();
  if (!wine) return ERROR_NOT_SUPPORTED;
  const DWORD capacity = size ? *size : 0;
  const DWORD result = wine(table, size, order, family, table_class, reserved);
  if (result != NO_ERROR || !table) return result;
  try {
    FillMissingOwners(table, capacity, family, table_class);
  } catch (...) {
    // Out of memory: the table stays as Wine made it, with some owners possibly filled.
  }
  return result;
}
