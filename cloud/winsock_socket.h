// A Windows Sockets stream socket, closed when its owner goes.
#pragma once

#include <winsock2.h>

#include "cloud/stream_socket.h"

namespace qardex::cloud {

class WinsockSocket final : public StreamSocket {
 public:
  explicit WinsockSocket(SOCKET socket = INVALID_SOCKET) : socket_(socket) {}
  ~WinsockSocket() override { Close(); }
  WinsockSocket(const WinsockSocket&) = delete;
  WinsockSocket& operator=(const WinsockSocket&) = delete;
  WinsockSocket(WinsockSocket&& other) noexcept : socket_(other.socket_) {
    other.socket_ = INVALID_SOCKET;
  }
  WinsockSocket& operator=(WinsockSocket&& other) noexcept;

  bool valid() const { return socket_ != INVALID_SOCKET; }
  SOCKET get() const { return socket_; }
  void Close();

  int Send(const char* data, int length) override;
  int Recv(char* buffer, int length) override;
  int SelectReadable(int timeoutMs, bool& readable) override;
  int LastError() override;
  void Pause(int milliseconds) override;
  std::int64_t NowMs() override;

 private:
  SOCKET socket_;
};

// Windows Sockets 2.2 for the length of one method call. A failed start is
// not followed by a cleanup: that would take Winsock away from the host.
class WinsockSession {
 public:
  WinsockSession() : result_(WSAStartup(MAKEWORD(2, 2), &data_)) {}
  ~WinsockSession() {
    if (result_ == 0) WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  // 0, or WSAStartup's own error number.
  int result() const { return result_; }

 private:
  WSADATA data_{};
  int result_;
};

}  // namespace qardex::cloud
