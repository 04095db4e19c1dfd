// The socket services the server connection uses, behind a small interface so
// the proxy dialogue and the framed transfers run against scripted peers in
// tests and against Windows Sockets in the library.
#pragma once

#include <cstdint>

namespace qardex::cloud {

class StreamSocket {
 public:
  virtual ~StreamSocket() = default;
  // One send(): the bytes sent, or -1 on a socket error.
  virtual int Send(const char* data, int length) = 0;
  // One recv(): the bytes read, 0 at the end of the stream, -1 on a socket error.
  virtual int Recv(char* buffer, int length) = 0;
  // select() for readability of this one socket: > 0 answered (`readable`
  // tells whether the socket was in the set), 0 timed out, -1 failed.
  virtual int SelectReadable(int timeoutMs, bool& readable) = 0;
  // The error number of the last failed call (WSAGetLastError).
  virtual int LastError() = 0;
  virtual void Pause(int milliseconds) = 0;
  // A monotonic clock for overall time limits.
  virtual std::int64_t NowMs() = 0;
};

}  // namespace qardex::cloud
