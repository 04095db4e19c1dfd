// The host's standard streams as the browser gives them: native messages in on standard input,
// out on standard output (whole frames, one writer at a time), and its log on standard error
// (which the browser keeps in its own log).
#pragma once

#include <windows.h>

#include <mutex>
#include <string_view>

#include "messaging/native_frames.h"
#include "messaging/page_channel.h"
#include "protocol/service_log.h"

namespace qardex::host {

class StandardInput final : public messaging::ByteSource {
 public:
  std::size_t Read(char* buffer, std::size_t capacity) override;
};

class StandardError final : public service::ServiceLog {
 public:
  void Write(std::string_view event) override;

 private:
  std::mutex lock_;
};

class StandardOutput final : public messaging::MessageSink {
 public:
  explicit StandardOutput(service::ServiceLog& log) : log_(log) {}
  bool Send(std::string_view json) override;

 private:
  service::ServiceLog& log_;
  std::mutex lock_;
  bool broken_ = false;
};

}  // namespace qardex::host
