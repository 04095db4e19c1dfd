// One end of the pipe between the service and a worker, as bytes. Bound to an overlapped named
// pipe on Windows (ipc/overlapped_pipe_win.h), to fakes in tests.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace qardex::ipc {

class PipeEnd {
 public:
  virtual ~PipeEnd() = default;

  // Writes all bytes; false once the pipe is broken. One writer at a time (the caller
  // serialises); may run while another thread is inside Read.
  virtual bool Write(std::string_view bytes) = 0;

  enum class ReadStatus { Data, Timeout, Closed };
  // Waits at most `limit` for bytes and appends what arrived to `bytes`. Closed: the pipe broke
  // or the other side closed its end.
  virtual ReadStatus Read(std::string& bytes, std::chrono::milliseconds limit) = 0;
};

}  // namespace qardex::ipc
