// Handle count and private bytes of another process.
#ifndef QARDEX_PROCSTAT_PROCESS_USAGE_H
#define QARDEX_PROCSTAT_PROCESS_USAGE_H

#include <windows.h>

#include <cstdint>

struct ProcessUsage {
  std::uint64_t handles = 0;
  std::uint64_t private_bytes = 0;
};

// The process id of this process's parent, 0 when it cannot be found.
DWORD ParentProcessId();

// The process id of the first process whose image is named `image` (case-insensitive), 0 when
// there is none.
DWORD ProcessIdOfImage(const char* image);

// False when the process cannot be opened or queried.
bool QueryProcessUsage(DWORD process_id, ProcessUsage& usage);

#endif
