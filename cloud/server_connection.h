// The TCP connection to the authentication server, directly or through the
// user's HTTP proxy.
#pragma once

#include <memory>
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

// Asks WinHTTP which proxy the user's configuration names for the server `host`. Begun on
// construction: the user's settings are read, and automatic discovery or a configuration script
// runs on a helper thread while the caller goes on; Finish waits for it (kDiscoveryLimitMs from
// the start at most) and logs what went wrong, as a look-up made then would.
class ProxyLookup {
 public:
  explicit ProxyLookup(const std::string& host);
  ~ProxyLookup();
  ProxyLookup(const ProxyLookup&) = delete;
  ProxyLookup& operator=(const ProxyLookup&) = delete;
  // Once only.
  ProxySetting Finish(WaitPulse& pulse);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Connects to `host`:`port`, through a CONNECT tunnel when a proxy is
// configured (the proxy then resolves the server's name). 0 with `socket`
// connected in blocking mode, or -1. Windows Sockets must be started. Every wait on the way
// (discovery, connect, proxy dialogue) beats `pulse`. `route`: the look-up begun for `host`.
int connect_to_server(const std::string& host, int port, ProxyLookup& route, WinsockSocket& socket,
                      WaitPulse& pulse);

}  // namespace qardex::cloud
