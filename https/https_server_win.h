// The service's listener: TLS over Winsock on 127.0.0.1, one thread per connection, the caller
// behind each connection found once, a bounded number of connections, and time limits on every
// connection checked on the clock.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "protocol/caller.h"
#include "https/connection_registry.h"
#include "https/router.h"
#include "https/tls_credentials.h"

namespace qardex::service {

// Who is at the other end of a connection, from the peer's port and the service's own; asked
// once per connection, when its TLS handshake is done, on that connection's thread.
using CallerLookup = std::function<CallerCheck(std::uint16_t peerPort, std::uint16_t ourPort)>;

struct ConnectionLimits {
  // A newcomer beyond takes the place of the connection idle the longest; with none idle, it is
  // closed as soon as it is accepted.
  std::size_t maxConnections = 64;
  // Of those, what the callers of one Windows session may hold (a newcomer beyond takes the place
  // of that session's connection idle the longest): a browser keeps about six per host, a second
  // browser and event streams as many again; four full sessions still leave room for others.
  std::size_t maxPerWindowsSession = 16;
  std::chrono::milliseconds handshake{10000};
  std::chrono::milliseconds request{10000};  // from a request's first byte to its last
  std::chrono::milliseconds idle{30000};     // between requests on a kept connection
  std::chrono::milliseconds send{10000};     // to send one answer
  std::chrono::milliseconds drainAtStop{5000};
};

// Closes the socket it owns.
class SocketHandle {
 public:
  explicit SocketHandle(SOCKET socket = INVALID_SOCKET) : socket_(socket) {}
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;
  ~SocketHandle() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
  }
  SOCKET get() const { return socket_; }
  // Hands the socket over to a new owner.
  SOCKET Release() {
    const SOCKET socket = socket_;
    socket_ = INVALID_SOCKET;
    return socket;
  }

 private:
  SOCKET socket_;
};

class HttpsServer {
 public:
  // `keepAlive` owns what `tls`, `router` and `identify` need (the workers, the sessions): every
  // connection thread holds it, so a thread still inside a long call when the drain at stop ends
  // (an H_Sign waiting on the network) never works on objects already destroyed.
  HttpsServer(SSL_CTX* tls, Router& router, CallerLookup identify, ConnectionLimits limits = {},
              std::shared_ptr<const void> keepAlive = {});

  // Binds 127.0.0.1:port (exclusively) and listens; on failure `error` says why.
  bool Listen(unsigned short port, std::string& error);

  // Serves until `stop` is set, then waits a bounded time for open connections.
  void Serve(const std::atomic<bool>& stop);

 private:
  // What a connection thread works with; shared by the threads, never tied to the server object.
  struct Context {
    SSL_CTX* tls;
    Router& router;
    CallerLookup identify;
    ConnectionLimits limits;
    std::shared_ptr<const void> keepAlive;
  };
  static void ServeConnection(SOCKET socket, const Context& context, const std::atomic<bool>& stop,
                              ConnectionRegistry& connections, ConnectionRegistry::Slot& slot);

  std::shared_ptr<const Context> context_;
  std::unique_ptr<SocketHandle> listener_;
  std::shared_ptr<ConnectionRegistry> connections_;
};

}  // namespace qardex::service
