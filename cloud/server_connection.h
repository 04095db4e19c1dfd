// The TCP connection to the authentication server, directly or through the
// user's HTTP proxy.
#pragma once

#include <optional>
#include <string>

#include "cloud/wait_pulse.h"
#include "cloud/winsock_socket.h"

namespace qardex::cloud {

inline constexpr int kServerPort = 443;

// How long the connect to the server or the proxy may take.
inline constexpr int kConnectLimitMs = 20'000;
// WinHTTP's limits while proxy discovery fetches a configuration script:
// name resolution, connect, send, and waiting for the answer.
inline constexpr int kDiscoveryResolveLimitMs = 5'000;
inline constexpr int kDiscoveryConnectLimitMs = 5'000;
inline constexpr int kDiscoverySendLimitMs = 5'000;
inline constexpr int kDiscoveryReceiveLimitMs = 10'000;
// How long proxy discovery as a whole may take, whatever WinHTTP does.
inline constexpr int kDiscoveryLimitMs = 10'000;

// What proxy discovery found. A text may be absent; both start out empty.
struct ProxySetting {
  int autoDetected = 0;  // 1 when the proxy came from automatic discovery
  std::optional<std::wstring> proxy = std::wstring();
  std::optional<std::wstring> bypass = std::wstring();
};

// Asks WinHTTP which proxy the user's configuration names for `url`.
ProxySetting discover_proxy(const std::wstring& url, WaitPulse& pulse);

// Connects to `host`:`port`, through a CONNECT tunnel when a proxy is
// configured (the proxy then resolves the server's name). 0 with `socket`
// connected in blocking mode, or -1. Windows Sockets must be started. Every wait on the way
// (discovery, connect, proxy dialogue) beats `pulse`.
int connect_to_server(const std::string& host, int port, WinsockSocket& socket, WaitPulse& pulse);

}  // namespace qardex::cloud
