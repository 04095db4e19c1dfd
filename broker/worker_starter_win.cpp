#include "broker/worker_starter_win.h"

#include <windows.h>
#include <userenv.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <vector>

#include "crypto/hex_text.h"
#include "ipc/overlapped_io_win.h"
#include "protocol/crypto_random.h"
#include "broker/pipe_channel_win.h"
#include "common/security_descriptor_win.h"
#include "protocol/user_token_win.h"

namespace qardex::service {

namespace {

constexpr wchar_t kPipePrefix[] = L"\\\\.\\pipe\\mQARDEX-";
constexpr std::size_t kPipeNameRandomBytes = 16;  // 32 hex digits
constexpr DWORD kPipeBufferBytes = 64 * 1024;
constexpr std::chrono::seconds kConnectLimit{10};
// How long a worker given up on may take to go after TerminateProcess.
constexpr DWORD kEndWaitMs = 1000;
// Longest path the system hands out, the "\\?\" form included.
constexpr DWORD kLongestPath = 32768;

struct EnvironmentBlockDestroyer {
  void operator()(void* block) const { DestroyEnvironmentBlock(block); }
};
using EnvironmentBlock = std::unique_ptr<void, EnvironmentBlockDestroyer>;

std::string WithError(std::string what, DWORD error) {
  return what + " (error " + std::to_string(error) + ")";
}

std::optional<std::wstring> NewPipeName() {
  unsigned char random[kPipeNameRandomBytes];
  if (!CryptoRandom(random, sizeof random)) return std::nullopt;
  const std::string digits = crypto::HexLower(random, sizeof random);
  return kPipePrefix + std::wstring(digits.begin(), digits.end());
}

// "S-", then digits and dashes: nothing that could change what the descriptor text says.
bool IsSidText(const std::string& sid) {
  return sid.size() > 2 && sid.compare(0, 2, "S-") == 0 &&
         std::all_of(sid.begin() + 2, sid.end(),
                     [](char c) { return (c >= '0' && c <= '9') || c == '-'; });
}

// Read and write (FILE_GENERIC_READ | FILE_GENERIC_WRITE, what the worker opens it with) for
// SYSTEM and the caller's user, nothing inherited; nobody else may open the pipe, and nobody may
// change its descriptor or owner. The create-instance right within FILE_GENERIC_WRITE gives
// nothing: the pipe is made with one instance, as its first.
common::LocalMemory<void> PipeDescriptor(const std::string& userSid) {
  return common::SecurityDescriptorFromSddl(L"D:P(A;;FRFW;;;SY)(A;;FRFW;;;" +
                                            std::wstring(userSid.begin(), userSid.end()) + L")");
}

std::optional<std::wstring> OwnProgramPath() {
  std::wstring path(kLongestPath, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), kLongestPath);
  if (length == 0 || length >= kLongestPath) return std::nullopt;
  path.resize(length);
  return path;
}

void EndProcess(HANDLE process) {
  TerminateProcess(process, 1);
  WaitForSingleObject(process, kEndWaitMs);
}

struct StartedProcess {
  common::KernelHandle process;  // null when it could not be started
  DWORD processId = 0;
};

// This program with --worker PIPE, as the user signed in to the caller's session, on that
// session's desktop with that user's environment (so its %TEMP% is the user's).
StartedProcess StartWorkerProcess(const Caller& caller, const std::wstring& pipeName,
                                  std::string& error) {
  StartedProcess started;
  const std::optional<std::wstring> program = OwnProgramPath();
  if (!program) {
    error = WithError("cannot find the program's own path", GetLastError());
    return started;
  }
  const std::wstring command = L"\"" + *program + L"\" --worker " + pipeName;
  std::vector<wchar_t> commandLine(command.begin(), command.end());  // CreateProcess writes to it
  commandLine.push_back(L'\0');

  const std::string session = std::to_string(caller.windowsSession);
  const SessionUserToken user = QuerySessionUserToken(caller.windowsSession);
  if (!user.token) {
    if (user.error == ERROR_NO_TOKEN) {
      error = "nobody is signed in to session " + session;
    } else if (user.error == ERROR_PRIVILEGE_NOT_HELD) {
      error = "session " + session +
              " is not this program's own, and only the Windows service may start workers in "
              "other sessions";
    } else {
      error = WithError("cannot get the user of session " + session, user.error);
    }
    return started;
  }
  // The session may have changed hands since the caller was identified.
  if (UserSidOfToken(user.token.get()) != caller.userSid) {
    error = "the user signed in to session " + session + " is not the caller's user";
    return started;
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  BOOL created = FALSE;
  if (user.ownToken) {
    // Not a service (the console mode): this process already runs as the session's user.
    created = CreateProcessW(program->c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                             CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info);
  } else {
    void* block = nullptr;
    if (!CreateEnvironmentBlock(&block, user.token.get(), FALSE)) {
      error = WithError("cannot make the environment of session " + session + "'s user",
                        GetLastError());
      return started;
    }
    const EnvironmentBlock environment(block);
    wchar_t desktop[] = L"winsta0\\default";
    startup.lpDesktop = desktop;
    created = CreateProcessAsUserW(user.token.get(), program->c_str(), commandLine.data(), nullptr,
                                   nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW,
                                   environment.get(), nullptr, &startup, &info);
  }
  if (!created) {
    error = WithError("cannot start a worker in session " + session, GetLastError());
    return started;
  }
  const common::KernelHandle thread(info.hThread);
  started.process.reset(info.hProcess);
  started.processId = info.dwProcessId;
  return started;
}

// Waits for the worker to open its pipe; gives up when it exits first or takes too long.
bool AwaitWorker(HANDLE pipe, HANDLE process, std::string& error) {
  std::unique_ptr<ipc::OverlappedIo> io = ipc::OverlappedIo::Make();
  if (!io) {
    error = WithError("cannot make an event", GetLastError());
    return false;
  }
  const BOOL started = ConnectNamedPipe(pipe, io->Arm());
  const DWORD startError = GetLastError();
  if (!started && startError == ERROR_PIPE_CONNECTED) return true;
  const ipc::IoOutcome outcome =
      ipc::FinishIo(pipe, io, started, startError, kConnectLimit, process);
  switch (outcome.end) {
    case ipc::IoEnd::Done:
      return true;
    case ipc::IoEnd::TimedOut:
      error =
          "the worker did not open its pipe within " + std::to_string(kConnectLimit.count()) + " s";
      return false;
    case ipc::IoEnd::Interrupted: {
      DWORD code = 0;
      GetExitCodeProcess(process, &code);
      error =
          "the worker exited before it opened its pipe (exit code " + std::to_string(code) + ")";
      return false;
    }
    default:
      error = WithError("cannot wait for the worker's pipe", outcome.error);
      return false;
  }
}

std::unique_ptr<WorkerChannel> StartWorker(const Caller& caller, std::string& error) {
  if (!IsSidText(caller.userSid)) {
    error = "the caller's user is not a SID";
    return nullptr;
  }
  const std::optional<std::wstring> pipeName = NewPipeName();
  if (!pipeName) {
    error = "cannot draw a pipe name";
    return nullptr;
  }
  const common::LocalMemory<void> descriptor = PipeDescriptor(caller.userSid);
  if (!descriptor) {
    error = WithError("cannot make the pipe's security descriptor", GetLastError());
    return nullptr;
  }
  SECURITY_ATTRIBUTES security{sizeof security, descriptor.get(), FALSE};
  common::KernelHandle pipe = common::AdoptFileHandle(CreateNamedPipeW(
      pipeName->c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
      kPipeBufferBytes, kPipeBufferBytes, 0, &security));
  if (!pipe) {
    error = WithError("cannot make the worker's pipe", GetLastError());
    return nullptr;
  }
  StartedProcess started = StartWorkerProcess(caller, *pipeName, error);
  if (!started.process) return nullptr;
  if (!AwaitWorker(pipe.get(), started.process.get(), error)) {
    EndProcess(started.process.get());
    return nullptr;
  }
  // Another process of the same user could have opened the pipe first.
  ULONG client = 0;
  if (!GetNamedPipeClientProcessId(pipe.get(), &client) || client != started.processId) {
    error = "the worker's pipe was opened by process " + std::to_string(client) +
            ", not by the worker " + std::to_string(started.processId);
    EndProcess(started.process.get());
    return nullptr;
  }
  return std::make_unique<PipeWorkerChannel>(std::move(pipe), std::move(started.process),
                                             started.processId);
}

}  // namespace

std::unique_ptr<WorkerChannel> PipeWorkerStarter::Start(const Caller& caller, std::string& error) {
  try {
    return StartWorker(caller, error);
  } catch (const std::exception& problem) {
    error = std::string("cannot start a worker: ") + problem.what();
  } catch (...) {
    error = "cannot start a worker";
  }
  return nullptr;
}

}  // namespace qardex::service
