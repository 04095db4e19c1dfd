#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <memory>

#include "card/pcsc_api.h"
#include "card/reader_watch.h"
#include "common/win_handles.h"
#include "ipc/overlapped_pipe_win.h"
#include "inprocess/engine_sessions.h"
#include "inprocess/platform_win.h"
#include "worker/worker_loop.h"
#include "worker/worker_program.h"

namespace qardex::worker {

namespace {

using Clock = std::chrono::steady_clock;

constexpr wchar_t kPipePrefix[] = L"\\\\.\\pipe\\";
// How long the worker keeps trying while the service's pipe is busy or not there yet.
constexpr std::chrono::milliseconds kConnectLimit = std::chrono::seconds(5);
constexpr std::chrono::milliseconds kConnectPause{50};

DWORD Milliseconds(Clock::duration limit) {
  const auto count = std::chrono::duration_cast<std::chrono::milliseconds>(limit).count();
  return static_cast<DWORD>(std::clamp<long long>(count, 1, INFINITE - 1));
}

common::KernelHandle ConnectToService(const wchar_t* pipeName) {
  const Clock::time_point deadline = Clock::now() + kConnectLimit;
  for (;;) {
    // Identification only: the pipe's server may learn who the worker runs as, never act as it.
    const HANDLE pipe = CreateFileW(
        pipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
        FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) return common::KernelHandle(pipe);
    const DWORD error = GetLastError();
    const Clock::duration left = deadline - Clock::now();
    if ((error != ERROR_PIPE_BUSY && error != ERROR_FILE_NOT_FOUND) || left <= Clock::duration{}) {
      return nullptr;
    }
    if (error == ERROR_PIPE_BUSY) {
      WaitNamedPipeW(pipeName, Milliseconds(left));
    } else {
      Sleep(Milliseconds(std::min<Clock::duration>(left, kConnectPause)));
    }
  }
}

}  // namespace

int RunWorker(const wchar_t* pipeName) {
  try {
    if (pipeName == nullptr || std::wcsncmp(pipeName, kPipePrefix, std::wcslen(kPipePrefix)) != 0) {
      return kWorkerExitNoPipe;
    }
    engine::Platform& platform =
        inprocess::PlatformWithKeysAhead();  // the first key pair is made from now on
    common::KernelHandle pipe = ConnectToService(pipeName);
    if (!pipe) return kWorkerExitNoPipe;
    DWORD mode = PIPE_READMODE_BYTE;
    if (!SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr)) return kWorkerExitNoPipe;
    const std::unique_ptr<ipc::OverlappedPipe> end = ipc::OverlappedPipe::Open(std::move(pipe));
    if (!end) return kWorkerExitFailure;
    // The engine's daily log goes to this process's temporary folder: the user's.
    inprocess::EngineSessions sessions(platform);
    inprocess::PcscReaderEvents events(card::SystemPcsc(), card::SystemStatusChange());
    return RunWorkerLoop(*end, sessions, GetCurrentProcessId(), {}, &events);
  } catch (...) {
    return kWorkerExitFailure;
  }
}

}  // namespace qardex::worker
