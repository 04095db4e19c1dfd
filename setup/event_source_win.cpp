#include "setup/event_source_win.h"

#include <windows.h>

#include "common/win_handles.h"
#include "setup/install_layout.h"

namespace qardex::setup {

std::string ServiceEventSourceKey() {
  return std::string("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\") + kServiceName;
}

SystemError RegisterServiceEventSource(const std::string& serviceProgram) {
  HKEY raw = nullptr;
  const LSTATUS created = RegCreateKeyExA(HKEY_LOCAL_MACHINE, ServiceEventSourceKey().c_str(), 0,
                                          nullptr, 0, KEY_SET_VALUE, nullptr, &raw, nullptr);
  if (created != ERROR_SUCCESS) return static_cast<SystemError>(created);
  const common::RegistryKey key(raw);
  const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  LSTATUS set = RegSetValueExA(key.get(), "EventMessageFile", 0, REG_EXPAND_SZ,
                               reinterpret_cast<const BYTE*>(serviceProgram.c_str()),
                               static_cast<DWORD>(serviceProgram.size() + 1));
  if (set == ERROR_SUCCESS) {
    set = RegSetValueExA(key.get(), "TypesSupported", 0, REG_DWORD,
                         reinterpret_cast<const BYTE*>(&types), sizeof types);
  }
  return static_cast<SystemError>(set);
}

SystemError RemoveServiceEventSource() {
  const LSTATUS deleted = RegDeleteKeyA(HKEY_LOCAL_MACHINE, ServiceEventSourceKey().c_str());
  return deleted == ERROR_FILE_NOT_FOUND ? kNoError : static_cast<SystemError>(deleted);
}

}  // namespace qardex::setup
