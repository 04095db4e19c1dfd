#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <memory>

#include "cloud/server_connection.h"
#include "diag/error_log.h"

namespace qardex::cloud {

namespace {

// A string WinHTTP allocated, freed when done.
class WinHttpString {
 public:
  explicit WinHttpString(LPWSTR text = nullptr) : text_(text) {}
  ~WinHttpString() {
    if (text_) GlobalFree(text_);
  }
  WinHttpString(const WinHttpString&) = delete;
  WinHttpString& operator=(const WinHttpString&) = delete;
  LPWSTR get() const { return text_; }
  bool empty() const { return text_ == nullptr || *text_ == L'\0'; }
  std::optional<std::wstring> Text() const {
    if (!text_) return std::nullopt;
    return std::wstring(text_);
  }

 private:
  LPWSTR text_;
};

class WinHttpHandle {
 public:
  explicit WinHttpHandle(HINTERNET handle) : handle_(handle) {}
  ~WinHttpHandle() {
    if (handle_) WinHttpCloseHandle(handle_);
  }
  WinHttpHandle(const WinHttpHandle&) = delete;
  WinHttpHandle& operator=(const WinHttpHandle&) = delete;
  HINTERNET get() const { return handle_; }

 private:
  HINTERNET handle_;
};

void UseAutoDetection(WINHTTP_AUTOPROXY_OPTIONS& options) {
  options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
  options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
}

class EventHandle {
 public:
  EventHandle() : handle_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~EventHandle() {
    if (handle_) CloseHandle(handle_);
  }
  EventHandle(const EventHandle&) = delete;
  EventHandle& operator=(const EventHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// What WinHTTP's automatic configuration named, when it named anything.
struct ScriptAnswer {
  bool found = false;
  std::optional<std::wstring> proxy;
  std::optional<std::wstring> bypass;
};

ScriptAnswer AskWinHttp(const std::wstring& url, WINHTTP_AUTOPROXY_OPTIONS options) {
  const WinHttpHandle session(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                          WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session.get()) return {};
  WinHttpSetTimeouts(session.get(), kDiscoveryResolveLimitMs, kDiscoveryConnectLimitMs,
                     kDiscoverySendLimitMs, kDiscoveryReceiveLimitMs);
  WINHTTP_PROXY_INFO info{};
  if (!WinHttpGetProxyForUrl(session.get(), url.c_str(), &options, &info)) return {};
  const WinHttpString proxy(info.lpszProxy);
  const WinHttpString bypass(info.lpszProxyBypass);
  return {true, proxy.Text(), bypass.Text()};
}

// The script download may ignore the session's limits (a script server that
// accepts but never answers then holds WinHTTP for as long as the server
// likes), so the question runs on a helper thread that the call waits for no
// longer than kDiscoveryLimitMs. A helper that overruns finishes on its own:
// it holds a reference on this module, so the library stays loaded until it
// has left. While one is still out, no second one starts.
struct DiscoveryJob {
  std::wstring url;
  std::wstring scriptUrl;
  WINHTTP_AUTOPROXY_OPTIONS options{};
  ScriptAnswer answer;
  HMODULE module = nullptr;
  EventHandle done;
};

std::atomic<bool> helperOut{false};

DWORD WINAPI RunDiscoveryJob(void* parameter) {
  HMODULE module = nullptr;
  {
    const std::unique_ptr<std::shared_ptr<DiscoveryJob>> handOver(
        static_cast<std::shared_ptr<DiscoveryJob>*>(parameter));
    const std::shared_ptr<DiscoveryJob> job = *handOver;
    module = job->module;
    try {
      job->answer = AskWinHttp(job->url, job->options);
    } catch (...) {
      job->answer = {};  // nothing leaves the thread
    }
    SetEvent(job->done.get());
  }
  helperOut.store(false);
  FreeLibraryAndExitThread(module, 0);
  return 0;
}

// Waits for the helper in slices, beating `pulse` after each: WAIT_OBJECT_0 once it is done.
DWORD WaitForJob(HANDLE done, int limitMs, WaitPulse& pulse) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(limitMs);
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return WAIT_TIMEOUT;
    const ULONGLONG slice = std::min<ULONGLONG>(deadline - now, kWaitPulseIntervalMs);
    const DWORD waited = WaitForSingleObject(done, static_cast<DWORD>(slice));
    if (waited != WAIT_TIMEOUT) return waited;
    pulse.Beat();
  }
}

ScriptAnswer AskWinHttpWithin(const std::wstring& url, const WINHTTP_AUTOPROXY_OPTIONS& options,
                              int limitMs, WaitPulse& pulse) {
  auto job = std::make_shared<DiscoveryJob>();
  job->url = url;
  job->options = options;
  if (options.lpszAutoConfigUrl) {
    job->scriptUrl = options.lpszAutoConfigUrl;
    job->options.lpszAutoConfigUrl = job->scriptUrl.c_str();
  }
  if (!job->done.get()) return AskWinHttp(url, options);
  if (helperOut.exchange(true)) {
    diag::AppendErrorLog("proxy discovery still busy from an earlier call\n");
    return {};
  }
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&RunDiscoveryJob), &job->module)) {
    helperOut.store(false);
    return AskWinHttp(url, options);
  }
  auto handOver = std::make_unique<std::shared_ptr<DiscoveryJob>>(job);
  const HANDLE thread = CreateThread(nullptr, 0, RunDiscoveryJob, handOver.get(), 0, nullptr);
  if (!thread) {
    FreeLibrary(job->module);
    helperOut.store(false);
    return AskWinHttp(url, options);
  }
  handOver.release();  // the helper owns it now
  CloseHandle(thread);
  if (WaitForJob(job->done.get(), limitMs, pulse) != WAIT_OBJECT_0) {
    diag::AppendErrorLog("proxy discovery did not finish in time\n");
    return {};
  }
  return job->answer;
}

}  // namespace

ProxySetting discover_proxy(const std::wstring& url, WaitPulse& pulse) {
  ProxySetting result;
  WINHTTP_AUTOPROXY_OPTIONS options{};
  options.fAutoLogonIfChallenged = FALSE;
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};

  const bool haveConfig = WinHttpGetIEProxyConfigForCurrentUser(&config) != FALSE;
  const WinHttpString configScript(haveConfig ? config.lpszAutoConfigUrl : nullptr);
  const WinHttpString staticProxy(haveConfig ? config.lpszProxy : nullptr);
  const WinHttpString staticBypass(haveConfig ? config.lpszProxyBypass : nullptr);
  if (!haveConfig) {
    UseAutoDetection(options);
  } else {
    if (config.fAutoDetect) UseAutoDetection(options);
    if (!configScript.empty()) {
      options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
      options.lpszAutoConfigUrl = configScript.get();
    }
    if (options.dwFlags == 0) {
      result.proxy = staticProxy.Text();
      result.bypass = staticBypass.Text();
      return result;
    }
  }

  const ScriptAnswer answer = AskWinHttpWithin(url, options, kDiscoveryLimitMs, pulse);
  if (answer.found) {
    result.autoDetected = 1;
    result.proxy = answer.proxy;
    result.bypass = answer.bypass;
  } else if (!staticProxy.empty()) {
    // When automatic discovery yields nothing, a static proxy the user also
    // configured still applies rather than a direct connection.
    result.proxy = staticProxy.Text();
    result.bypass = staticBypass.Text();
  }
  return result;
}

}  // namespace qardex::cloud
