#include <windows.h>

#include <cstring>
#include <string>

#include "common/policy_values.h"
#include "sitelock/localhost_ports.h"

namespace qardex::sitelock {

namespace {

std::wstring Wide(const char* ascii) { return std::wstring(ascii, ascii + std::strlen(ascii)); }

}  // namespace

PolicyText ReadLocalhostPortsPolicy() {
  // One character more than a list may hold, so a longer text reads as one and is refused.
  wchar_t buffer[kLocalhostPortsTextLimit + 2] = {};
  DWORD size = sizeof buffer - sizeof buffer[0];
  const LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, Wide(common::kPolicyKeyPath).c_str(),
                                      Wide(common::kLocalhostPortsValue).c_str(),
                                      RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, buffer, &size);
  PolicyText read;
  if (status == ERROR_FILE_NOT_FOUND) return read;
  if (status == ERROR_MORE_DATA) {
    read.state = PolicyText::State::Text;
    read.text.assign(kLocalhostPortsTextLimit + 1, '?');
    return read;
  }
  if (status != ERROR_SUCCESS) {
    read.state = PolicyText::State::Unreadable;
    read.error = static_cast<std::uint32_t>(status);
    return read;
  }
  read.state = PolicyText::State::Text;
  for (std::size_t i = 0; i < size / sizeof buffer[0] && buffer[i] != L'\0'; ++i) {
    read.text.push_back(buffer[i] <= 127 ? static_cast<char>(buffer[i]) : '?');
  }
  return read;
}

}  // namespace qardex::sitelock
