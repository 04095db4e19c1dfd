#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "cloud/proxy_text.h"
#include "cloud/pulsing_socket.h"
#include "cloud/relay.h"
#include "cloud/server_connection.h"
#include "diag/error_log.h"

namespace qardex::cloud {

namespace {

using diag::AppendErrorLog;

// The proxy text in the runtime's current locale, at most 255 bytes.
std::string NarrowProxyText(const std::wstring& text) {
  char narrow[kProxyTextLimit + 1] = {};
  const std::size_t converted = std::wcstombs(narrow, text.c_str(), kProxyTextLimit);
  if (converted == static_cast<std::size_t>(-1)) return {};
  return std::string(narrow);
}

// Waits for a non-blocking connect to finish: 0, or its error number.
int WaitForConnect(SOCKET socket, int limitMs, WaitPulse& pulse) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(limitMs);
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return WSAETIMEDOUT;
    const ULONGLONG left = std::min<ULONGLONG>(deadline - now, kWaitPulseIntervalMs);
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket, &writable);
    FD_SET(socket, &failed);
    timeval wait{static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
    const int answer = select(0, nullptr, &writable, &failed, &wait);
    if (answer == SOCKET_ERROR) return WSAGetLastError();
    if (answer == 0) {  // a quiet slice; the clock above decides when to stop
      pulse.Beat();
      continue;
    }
    if (FD_ISSET(socket, &failed)) {
      int error = 0;
      int size = sizeof error;
      getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
      return error != 0 ? error : WSAECONNREFUSED;
    }
    if (FD_ISSET(socket, &writable)) return 0;
  }
}

// The first IPv4 address of a name, or nothing (logged).
bool Resolve(const std::string& name, in_addr& address) {
  const hostent* entry = gethostbyname(name.c_str());
  if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_addr_list[0] == nullptr) {
    AppendErrorLog("gethostbyname error");
    return false;
  }
  std::memcpy(&address, entry->h_addr_list[0], sizeof address);
  return true;
}

// connect() with a limit of its own: non-blocking, then a wait for the
// outcome. 0, or the Winsock error number (WSAETIMEDOUT when the limit passed).
// The socket is left in blocking mode either way.
int ConnectWithin(SOCKET socket, const sockaddr_in& peer, int limitMs, WaitPulse& pulse) {
  u_long nonBlocking = 1;
  if (ioctlsocket(socket, FIONBIO, &nonBlocking) == SOCKET_ERROR) return WSAGetLastError();
  int error = 0;
  if (connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == SOCKET_ERROR) {
    error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) error = WaitForConnect(socket, limitMs, pulse);
  }
  nonBlocking = 0;
  ioctlsocket(socket, FIONBIO, &nonBlocking);
  return error;
}

}  // namespace

int connect_to_server(const std::string& host, int port, ProxyLookup& route, WinsockSocket& socket,
                      WaitPulse& pulse) {
  socket.Close();
  const ProxySetting setting = route.Finish(pulse);
  std::wprintf(L"\n\nProxyAutoDetected: %d\n", setting.autoDetected);

  ProxyEndpoint proxy;
  if (setting.proxy) {
    std::wprintf(L"ProxyURL: %ls\n", setting.proxy->c_str());
    proxy = SplitProxyText(NarrowProxyText(*setting.proxy));
  }
  if (setting.bypass) std::wprintf(L"ProxyBypass: %ls\n", setting.bypass->c_str());
  std::fflush(stdout);

  WinsockSocket candidate(::socket(AF_INET, SOCK_STREAM, 0));
  if (!candidate.valid()) return -1;

  // Through a proxy only the proxy's name is resolved here; the proxy
  // resolves the server's name from the CONNECT request.
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  if (!Resolve(proxy.useProxy ? proxy.host : host, peer.sin_addr)) return -1;
  peer.sin_port = htons(static_cast<u_short>(proxy.useProxy ? proxy.port : port));

  const int connectError = ConnectWithin(candidate.get(), peer, kConnectLimitMs, pulse);
  if (connectError != 0) {
    char line[256] = {};
    std::snprintf(line, sizeof line, "Connect To [%s:%d] Err %d", host.c_str(), port, connectError);
    AppendErrorLog("%s", line);
    return -1;
  }
  // Each message goes out whole in one send; waiting to merge it with the next
  // one only delays the dialogue (by the peer's delayed acknowledgement).
  const BOOL noDelay = TRUE;
  setsockopt(candidate.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
             sizeof noDelay);
  PulsingSocket paced(candidate, pulse);
  if (proxy.useProxy && begin_http_relay(paced, host, port) != 0) return -1;

  u_long nonBlocking = 0;
  ioctlsocket(candidate.get(), FIONBIO, &nonBlocking);
  socket = std::move(candidate);
  return 0;
}

}  // namespace qardex::cloud
