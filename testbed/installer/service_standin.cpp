// Test-bed stand-in for the local service program (installed as mQARDEXService.exe): a Windows
// service that listens on the local service's port (127.0.0.1:QX_LOCAL_PORT), as the installer
// insists, and reports running until it is told to stop. Beside its program it appends "start"
// and "stop" lines to mQARDEXService.log, and a file mQARDEXService.stop-delay holding a
// number of milliseconds makes it take that long to stop.
#include <winsock2.h>
// After winsock2.h, which must come first.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stopRequested = nullptr;
wchar_t kName[] = L"mQARDEX";

std::wstring Beside(const wchar_t* name) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  folder.resize(folder.find_last_of(L'\\') + 1);
  return folder + name;
}

void Note(const char* line) {
  if (FILE* log = _wfopen(Beside(L"mQARDEXService.log").c_str(), L"ab")) {
    std::fprintf(log, "%s\n", line);
    std::fclose(log);
  }
}

DWORD StopDelay() {
  DWORD delay = 0;
  if (FILE* file = _wfopen(Beside(L"mQARDEXService.stop-delay").c_str(), L"rb")) {
    unsigned long value = 0;
    if (std::fscanf(file, "%lu", &value) == 1) delay = value;
    std::fclose(file);
  }
  return delay;
}

void Report(DWORD state) {
  SERVICE_STATUS status = {};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  status.dwWaitHint = state == SERVICE_STOP_PENDING ? StopDelay() + 1000 : 0;
  SetServiceStatus(g_status, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOP_PENDING);
    SetEvent(g_stopRequested);
  }
  return NO_ERROR;
}

// The listening socket, or INVALID_SOCKET; the stand-in retries as the service does.
SOCKET Listen() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return INVALID_SOCKET;
  for (int attempt = 0; attempt < 60; ++attempt) {
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(QX_LOCAL_PORT);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listener != INVALID_SOCKET &&
        bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        listen(listener, 4) == 0) {
      return listener;
    }
    closesocket(listener);
    Sleep(500);
  }
  return INVALID_SOCKET;
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
  g_status = RegisterServiceCtrlHandlerExW(kName, Control, nullptr);
  if (!g_status) return;
  const SOCKET listener = Listen();
  // Logged before it reports running: whoever sees it running finds the line written.
  Note("start");
  Report(SERVICE_RUNNING);
  WaitForSingleObject(g_stopRequested, INFINITE);
  Sleep(StopDelay());
  Note("stop");
  closesocket(listener);
  Report(SERVICE_STOPPED);
}

}  // namespace

int main() {
  g_stopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SERVICE_TABLE_ENTRYW table[] = {{kName, ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    std::fprintf(stderr, "mQARDEXService stand-in: not started as a service (%lu)\n",
                 GetLastError());
    return 1;
  }
  return 0;
}
