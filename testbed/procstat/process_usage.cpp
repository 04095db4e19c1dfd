#include "process_usage.h"

// windows.h (through process_usage.h) first: these headers build on its types.
#include <psapi.h>
#include <tlhelp32.h>

#include <cstring>
#include <vector>

#include "unique_handle.h"

namespace {

// NtQuerySystemInformation(SystemExtendedHandleInformation): one entry per open handle in the
// system. The SDK headers do not declare these layouts.
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
constexpr std::size_t kMaxHandleTableBytes = std::size_t{64} << 20;

struct HandleEntry {
  PVOID object;
  ULONG_PTR owner_process_id;
  ULONG_PTR handle_value;
  ULONG granted_access;
  USHORT creator_back_trace_index;
  USHORT object_type_index;
  ULONG handle_attributes;
  ULONG reserved;
};

struct HandleTableHeader {
  ULONG_PTR count;
  ULONG_PTR reserved;
};

using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

// Wine's GetProcessHandleCount reports 0 for every process; its system handle table is
// accurate, so the count comes from there when the direct query says 0.
bool CountHandlesInSystemTable(DWORD process_id, std::uint64_t& count) {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (!ntdll) return false;
  auto query = reinterpret_cast<QuerySystemInformation>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")));
  if (!query) return false;

  std::vector<unsigned char> table(std::size_t{1} << 16);
  ULONG returned = 0;
  LONG status = kStatusInfoLengthMismatch;
  while ((status = query(kSystemExtendedHandleInformation, table.data(),
                         static_cast<ULONG>(table.size()), &returned)) ==
         kStatusInfoLengthMismatch) {
    if (table.size() >= kMaxHandleTableBytes) return false;
    table.resize(table.size() * 2);
  }
  if (status < 0 || returned < sizeof(HandleTableHeader) || returned > table.size()) return false;

  HandleTableHeader header;
  std::memcpy(&header, table.data(), sizeof(header));
  const std::size_t room = (returned - sizeof(header)) / sizeof(HandleEntry);
  if (header.count > room) return false;
  count = 0;
  for (std::size_t i = 0; i < header.count; ++i) {
    HandleEntry entry;
    std::memcpy(&entry, table.data() + sizeof(header) + i * sizeof(entry), sizeof(entry));
    if (entry.owner_process_id == process_id) ++count;
  }
  return true;
}

}  // namespace

DWORD ParentProcessId() {
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.valid()) return 0;
  const DWORD self = GetCurrentProcessId();
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == self) return entry.th32ParentProcessID;
  }
  return 0;
}

DWORD ProcessIdOfImage(const char* image) {
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.valid()) return 0;
  wchar_t wide[MAX_PATH];
  if (MultiByteToWideChar(CP_ACP, 0, image, -1, wide, MAX_PATH) == 0) return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (lstrcmpiW(entry.szExeFile, wide) == 0) return entry.th32ProcessID;
  }
  return 0;
}

bool QueryProcessUsage(DWORD process_id, ProcessUsage& usage) {
  UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process_id));
  if (!process.valid()) return false;

  DWORD handles = 0;
  if (!GetProcessHandleCount(process.get(), &handles)) return false;
  usage.handles = handles;
  if (usage.handles == 0 && !CountHandlesInSystemTable(process_id, usage.handles)) return false;

  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof(counters);
  if (!GetProcessMemoryInfo(process.get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                            sizeof(counters)))
    return false;
  // Windows reports the commit charge in both fields; Wine fills only PagefileUsage.
  usage.private_bytes = counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
  return true;
}
