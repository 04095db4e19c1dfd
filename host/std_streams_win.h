// The host's standard streams as the browser gives them: native messages in on standard input,
// out on standard output (whole frames, one writer at a time), and its log on standard error
// (which the browser keeps in its own log). Standard output carries the frames alone: the engine's
// own console lines (the proxy setting before each connection to the server) would land between
// them, and the browser ends a port on the first length that is not one.
#pragma once

#include <windows.h>

#include <mutex>
#include <string_view>

#include "common/win_handles.h"
#include "messaging/native_frames.h"
#include "messaging/page_channel.h"
#include "protocol/service_log.h"

namespace qardex::host {

class StandardInput final : public messaging::ByteSource {
 public:
  std::size_t Read(char* buffer, std::size_t capacity) override;
};

class StandardError final : public service::ServiceLog {
 private:
  void Record(service::LogEvent kind, std::string_view event) override;

  std::mutex lock_;
};

// Takes the browser's pipe from the C runtime's stdout and the process's standard output, which
// then go to NUL; made before anything else of the host can print.
class StandardOutput final : public messaging::MessageSink {
 public:
  explicit StandardOutput(service::ServiceLog& log);
  bool Send(std::string_view json) override;

 private:
  service::ServiceLog& log_;
  common::KernelHandle taken_;  // the pipe, once standard output no longer names it
  HANDLE channel_;
  std::mutex lock_;
  bool broken_ = false;
};

}  // namespace qardex::host
