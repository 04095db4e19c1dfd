// Winelib code: finds socket handles in Wine's system handle table by their names.
//
// Under Wine the Unix descriptor of a Windows socket lives in wineserver; a Windows program holds
// a copy only for a while after some of its I/O. So the Unix side cannot name the Windows owner,
// and Wine 8 has no query for a process's Unix pid either. The handle table can: every handle
// of every process is listed with its process id, and a copy of a socket handle answers for its
// local and peer names.
#include <ntstatus.h>
#define WIN32_NO_STATUS
#include <windows.h>
#include <winternl.h>
#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <map>
#include <vector>

#include "socket_handles.h"
#include "testbed/procstat/unique_handle.h"

namespace tcp_owner {
namespace {

// What ws2_32 sends for getsockname (AFD's own request) and for getpeername (Wine's request;
// ws2_32 refuses getpeername for a socket it did not make itself, so it is sent here directly).
constexpr ULONG kGetSockName = CTL_CODE(FILE_DEVICE_BEEP, 0x80b, METHOD_NEITHER, FILE_ANY_ACCESS);
constexpr ULONG kGetPeerName = CTL_CODE(FILE_DEVICE_NETWORK, 216, METHOD_BUFFERED, FILE_ANY_ACCESS);

// The handle table grows from the first size up to the last; beyond it the lookup gives up.
constexpr std::size_t kFirstTableBytes = 64 * 1024;
constexpr std::size_t kLastTableBytes = 32 * 1024 * 1024;  // about 800,000 handles

// SOCKADDR_IN: family, port (network order), address; SOCKADDR_IN6 has the flow label between.
constexpr std::size_t kPortAt = 2;
constexpr std::size_t kIpv4AddressAt = 4;
constexpr std::size_t kIpv6AddressAt = 8;

bool NameOf(HANDLE socket, ULONG request, Family family, Endpoint& endpoint) {
  unsigned char name[64] = {};  // SOCKADDR_IN6 has 28 bytes
  IO_STATUS_BLOCK io{};
  if (NtDeviceIoControlFile(socket, nullptr, nullptr, nullptr, &io, request, nullptr, 0, name,
                            sizeof(name)) != STATUS_SUCCESS)
    return false;
  const std::size_t bytes = AddressBytes(family);
  const std::size_t address_at = family == Family::ipv4 ? kIpv4AddressAt : kIpv6AddressAt;
  uint16_t name_family;
  std::memcpy(&name_family, name, sizeof(name_family));
  if (io.Information < address_at + bytes || io.Information > sizeof(name) ||
      name_family != (family == Family::ipv4 ? kWindowsAfInet : kWindowsAfInet6))
    return false;
  endpoint = Endpoint{};
  endpoint.port = static_cast<uint16_t>(name[kPortAt] << 8 | name[kPortAt + 1]);
  std::memcpy(endpoint.address.data(), name + address_at, bytes);
  return true;
}

// Wine files its sockets as named-pipe devices; Windows' are network devices. Nothing else gets
// a socket request.
bool MayBeSocket(HANDLE handle) {
  FILE_FS_DEVICE_INFORMATION device{};
  IO_STATUS_BLOCK io{};
  if (NtQueryVolumeInformationFile(handle, &io, &device, sizeof(device), FileFsDeviceInformation) !=
      STATUS_SUCCESS)
    return false;
  return device.DeviceType == FILE_DEVICE_NAMED_PIPE || device.DeviceType == FILE_DEVICE_NETWORK;
}

// The system handle table, or nothing when it does not fit the last size.
std::vector<unsigned char> SystemHandles() {
  std::vector<unsigned char> table(kFirstTableBytes);
  for (;;) {
    ULONG needed = 0;
    const NTSTATUS status = NtQuerySystemInformation(SystemExtendedHandleInformation, table.data(),
                                                     static_cast<ULONG>(table.size()), &needed);
    if (status == STATUS_SUCCESS) return table;
    if (status != STATUS_INFO_LENGTH_MISMATCH || table.size() >= kLastTableBytes) return {};
    table.resize(std::min(kLastTableBytes, std::max<std::size_t>(table.size() * 2, needed)));
  }
}

void MatchHandles(Family family, const std::vector<unsigned char>& table,
                  std::vector<ConnectionQuery>& queries, std::size_t open) {
  constexpr std::size_t kEntriesAt = offsetof(SYSTEM_HANDLE_INFORMATION_EX, Handles);
  if (table.size() < kEntriesAt) return;
  SYSTEM_HANDLE_INFORMATION_EX header;
  std::memcpy(&header, table.data(), kEntriesAt);
  const std::size_t count = header.NumberOfHandles;
  if (count > (table.size() - kEntriesAt) / sizeof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX)) return;

  std::map<ULONG_PTR, UniqueHandle> processes;
  for (std::size_t i = 0; i < count && open > 0; ++i) {
    SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX entry;
    std::memcpy(&entry, table.data() + kEntriesAt + i * sizeof(entry), sizeof(entry));
    auto process = processes.find(entry.UniqueProcessId);
    if (process == processes.end())
      process = processes
                    .try_emplace(entry.UniqueProcessId,
                                 OpenProcess(PROCESS_DUP_HANDLE, FALSE,
                                             static_cast<DWORD>(entry.UniqueProcessId)))
                    .first;
    HANDLE copy = nullptr;
    if (!process->second.valid() ||
        !DuplicateHandle(process->second.get(), reinterpret_cast<HANDLE>(entry.HandleValue),
                         GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
      continue;
    const UniqueHandle socket(copy);
    Endpoint local;
    Endpoint remote;  // stays zero for a listening socket, which has no peer
    if (!MayBeSocket(socket.get()) || !NameOf(socket.get(), kGetSockName, family, local)) continue;
    NameOf(socket.get(), kGetPeerName, family, remote);
    for (ConnectionQuery& query : queries) {
      if (query.holder == Holder::wine && query.windows_pid == 0 && query.local == local &&
          query.remote == remote) {
        query.windows_pid = static_cast<uint32_t>(entry.UniqueProcessId);
        --open;
      }
    }
  }
}

}  // namespace

void FindHandleOwners(Family family, std::vector<ConnectionQuery>& queries) noexcept {
  try {
    std::size_t open = 0;
    for (const ConnectionQuery& query : queries)
      if (query.holder == Holder::wine && query.windows_pid == 0) ++open;
    if (open > 0) MatchHandles(family, SystemHandles(), queries, open);
  } catch (...) {
    // Out of memory: the queries keep the owners found so far.
  }
}

}  // namespace tcp_owner
