#include "setup/listener_table_win.h"

#include <winsock2.h>
// After winsock2.h, which they need.
#include <windows.h>
#include <iphlpapi.h>

#include <cstring>
#include <vector>

#include "setup/narrow_text_win.h"
#include "common/win_handles.h"

namespace qardex::setup {

namespace {

// The table may grow between the call that sizes it and the one that fills it.
constexpr int kReadAttempts = 4;

// Rows hold the address and, in the low 16 bits, the port in network byte order.
std::uint32_t AddressOf(DWORD stored) {
  unsigned char bytes[4];
  std::memcpy(bytes, &stored, sizeof bytes);
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
         std::uint32_t{bytes[2]} << 8 | bytes[3];
}
std::uint16_t PortOf(DWORD stored) {
  return static_cast<std::uint16_t>((stored & 0xff) << 8 | (stored >> 8 & 0xff));
}

class WinListenerTable final : public ListenerTable {
 public:
  Listeners Read() override {
    std::vector<unsigned char> buffer;
    DWORD size = 0;
    DWORD error = ERROR_INSUFFICIENT_BUFFER;
    for (int attempt = 0; attempt < kReadAttempts && error == ERROR_INSUFFICIENT_BUFFER;
         ++attempt) {
      buffer.resize(size);
      error = GetExtendedTcpTable(buffer.empty() ? nullptr : buffer.data(), &size, FALSE, AF_INET,
                                  TCP_TABLE_OWNER_PID_LISTENER, 0);
    }
    if (error != NO_ERROR) return {{}, static_cast<SystemError>(error)};
    const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
    Listeners listeners;
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
      const MIB_TCPROW_OWNER_PID& row = table->table[i];
      listeners.sockets.push_back(
          {AddressOf(row.dwLocalAddr), PortOf(row.dwLocalPort), row.dwOwningPid});
    }
    return listeners;
  }

  std::optional<std::string> ProgramName(std::uint32_t processId) override {
    const common::KernelHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) return std::nullopt;
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = MAX_PATH;
    if (!QueryFullProcessImageNameW(process.get(), 0, path.data(), &length)) return std::nullopt;
    path.resize(length);
    return ToNarrow(path.substr(path.find_last_of(L'\\') + 1));
  }
};

}  // namespace

ListenerTable& SystemListenerTable() {
  static WinListenerTable table;
  return table;
}

}  // namespace qardex::setup
