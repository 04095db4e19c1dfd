// The service's listener: TLS over Winsock on 127.0.0.1, one thread per connection, a bounded
// number of connections; each connection's life (the caller behind it found once, its time
// limits checked on the clock) is the connection loop's, over a TLS stream on the socket.
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
#include "https/connection_loop.h"
#include "https/connection_registry.h"
#include "https/router.h"
#include "https/tls_credentials.h"

namespace qardex::service {

// Who is at the other end of a connection, from the peer's port and the service's own; asked
// once per connection, when its TLS handshake is done, on that connection's thread.
using CallerLookup = std::function<CallerCheck(std::uint16_t peerPort, std::uint16_t ourPort)>;

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
  HttpsServer(const CurrentTls& tls, Router& router, CallerLookup identify,
              ConnectionLimits limits = {}, std::shared_ptr<const void> keepAlive = {});

  // Binds 127.0.0.1:port (exclusively) and listens; on failure `error` says why.
  bool Listen(unsigned short port, std::string& error);

  // Serves until `stop` is set, then waits a bounded time for open connections.
  void Serve(const std::atomic<bool>& stop);

 private:
  // What a connection thread works with; shared by the threads, never tied to the server object.
  struct Context {
    const CurrentTls& tls;
    Router& router;
    CallerLookup identify;
    ConnectionLimits limits;
    std::shared_ptr<const void> keepAlive;
  };
  // Sets TLS up over an accepted socket and serves the connection on it.
  static void ServeSocket(SOCKET socket, const Context& context, const std::atomic<bool>& stop,
                          ConnectionRegistry& connections, ConnectionRegistry::Place& place);

  std::shared_ptr<const Context> context_;
  std::unique_ptr<SocketHandle> listener_;
  std::shared_ptr<ConnectionRegistry> connections_;
};

}  // namespace qardex::service
