#include "cloud/winsock_socket.h"

#include <windows.h>

namespace qardex::cloud {

WinsockSocket& WinsockSocket::operator=(WinsockSocket&& other) noexcept {
  if (this != &other) {
    Close();
    socket_ = other.socket_;
    other.socket_ = INVALID_SOCKET;
  }
  return *this;
}

void WinsockSocket::Close() {
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
  socket_ = INVALID_SOCKET;
}

int WinsockSocket::Send(const char* data, int length) {
  const int sent = send(socket_, data, length, 0);
  return sent == SOCKET_ERROR ? -1 : sent;
}

int WinsockSocket::Recv(char* buffer, int length) {
  const int received = recv(socket_, buffer, length, 0);
  return received == SOCKET_ERROR ? -1 : received;
}

int WinsockSocket::SelectReadable(int timeoutMs, bool& readable) {
  fd_set readSet;
  FD_ZERO(&readSet);
  FD_SET(socket_, &readSet);
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int answer = select(0, &readSet, nullptr, nullptr, &limit);
  readable = answer > 0 && FD_ISSET(socket_, &readSet);
  return answer == SOCKET_ERROR ? -1 : answer;
}

int WinsockSocket::LastError() { return WSAGetLastError(); }

void WinsockSocket::Pause(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

std::int64_t WinsockSocket::NowMs() { return static_cast<std::int64_t>(GetTickCount64()); }

}  // namespace qardex::cloud
