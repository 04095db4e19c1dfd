#include "host/std_streams_win.h"

#include <io.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <optional>
#include <string>

namespace qardex::host {

namespace {

bool WriteAll(HANDLE handle, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 20));
    if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

// A handle of its own to the pipe, and stdout pointed at NUL; null (stdout left alone) when no
// handle could be had.
common::KernelHandle TakeStandardOutput() {
  const HANDLE self = GetCurrentProcess();
  HANDLE pipe = nullptr;
  if (!DuplicateHandle(self, GetStdHandle(STD_OUTPUT_HANDLE), self, &pipe, 0, FALSE,
                       DUPLICATE_SAME_ACCESS))
    return {};
  common::KernelHandle taken(pipe);
  std::fflush(stdout);
  // freopen closes the runtime's own handle to the pipe, even when it fails; the duplicate
  // keeps the pipe open.
  if (std::freopen("NUL", "wb", stdout) != nullptr)
    SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout))));
  return taken;
}

}  // namespace

std::size_t StandardInput::Read(char* buffer, std::size_t capacity) {
  DWORD read = 0;
  const auto wanted = static_cast<DWORD>(std::min<std::size_t>(capacity, INT_MAX));
  if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, wanted, &read, nullptr)) return 0;
  return read;
}

void StandardError::Record(service::LogEvent, std::string_view event) {
  try {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u ", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    const std::string line = "QARDEXHost: " + std::string(stamp) + std::string(event) + "\r\n";
    std::lock_guard<std::mutex> hold(lock_);
    WriteAll(GetStdHandle(STD_ERROR_HANDLE), line);
  } catch (...) {
    // The log never stops the host.
  }
}

StandardOutput::StandardOutput(service::ServiceLog& log)
    : log_(log), taken_(TakeStandardOutput()), channel_(GetStdHandle(STD_OUTPUT_HANDLE)) {
  if (taken_) channel_ = taken_.get();
}

bool StandardOutput::Send(std::string_view json) {
  const std::optional<std::string> frame = messaging::FrameOf(json);
  if (!frame) {
    // The browser would end the port on it; nothing the host answers is that large.
    log_.Write("an answer of " + std::to_string(json.size()) + " bytes was not sent: too large");
    return true;
  }
  std::lock_guard<std::mutex> hold(lock_);
  if (!broken_ && !WriteAll(channel_, *frame)) broken_ = true;
  return !broken_;
}

}  // namespace qardex::host
