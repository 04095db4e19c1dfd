#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <utility>

#include "cloud/server_connection.h"
#include "common/win_handles.h"
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
// it holds a reference on this module, given back once it has returned, so the
// library stays loaded until then. While one is still out, no second one starts.
struct DiscoveryJob {
  std::wstring url;
  std::wstring scriptUrl;
  WINHTTP_AUTOPROXY_OPTIONS options{};
  ScriptAnswer answer;
  HMODULE module = nullptr;
  const common::KernelHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

std::atomic<bool> helperOut{false};

void CALLBACK RunDiscoveryJob(PTP_CALLBACK_INSTANCE instance, void* parameter) {
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
  FreeLibraryWhenCallbackReturns(instance, module);
}

// Waits for the helper in slices until `deadline`, beating `pulse` after each: WAIT_OBJECT_0 once
// it is done.
DWORD WaitForJob(HANDLE done, ULONGLONG deadline, WaitPulse& pulse) {
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return WAIT_TIMEOUT;
    const ULONGLONG slice = std::min<ULONGLONG>(deadline - now, kWaitPulseIntervalMs);
    const DWORD waited = WaitForSingleObject(done, static_cast<DWORD>(slice));
    if (waited != WAIT_TIMEOUT) return waited;
    pulse.Beat();
  }
}

enum class Helper { Started, StillBusy, NotStarted };

// The helpers' own pool of one thread at most. A thread kept from an earlier look-up starts the
// next at once, where a new thread takes about a millisecond under Wine; the one thread is never
// wanted twice, as a helper still out makes the next look-up "still busy".
class HelperPool {
 public:
  HelperPool() : pool_(CreateThreadpool(nullptr)) {
    InitializeThreadpoolEnvironment(&environment_);
    if (pool_ != nullptr) {
      SetThreadpoolThreadMaximum(pool_, 1);
      SetThreadpoolCallbackPool(&environment_, pool_);
    }
  }
  ~HelperPool() {
    if (pool_ != nullptr) CloseThreadpool(pool_);
  }
  HelperPool(const HelperPool&) = delete;
  HelperPool& operator=(const HelperPool&) = delete;
  bool Submit(PTP_SIMPLE_CALLBACK callback, void* context) {
    return pool_ != nullptr && TrySubmitThreadpoolCallback(callback, context, &environment_);
  }

 private:
  PTP_POOL pool_;
  TP_CALLBACK_ENVIRON environment_{};
};

Helper StartHelper(const std::shared_ptr<DiscoveryJob>& job) {
  if (!job->done.get()) return Helper::NotStarted;
  if (helperOut.exchange(true)) return Helper::StillBusy;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&RunDiscoveryJob), &job->module)) {
    helperOut.store(false);
    return Helper::NotStarted;
  }
  static HelperPool pool;
  auto handOver = std::make_unique<std::shared_ptr<DiscoveryJob>>(job);
  if (!pool.Submit(RunDiscoveryJob, handOver.get())) {
    FreeLibrary(job->module);
    helperOut.store(false);
    return Helper::NotStarted;
  }
  handOver.release();  // the helper owns it now
  return Helper::Started;
}

}  // namespace

struct ProxyLookup::State {
  ProxySetting fixed;  // the answer, unless automatic configuration is asked
  std::shared_ptr<DiscoveryJob> job;
  Helper helper = Helper::NotStarted;
  ULONGLONG deadline = 0;
};

ProxyLookup::ProxyLookup(const std::string& host) : state_(std::make_unique<State>()) {
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
    if (!configScript.empty()) options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
    // When automatic discovery yields nothing, a static proxy the user also
    // configured still applies rather than a direct connection.
    if (options.dwFlags == 0 || !staticProxy.empty()) {
      state_->fixed.proxy = staticProxy.Text();
      state_->fixed.bypass = staticBypass.Text();
    }
    if (options.dwFlags == 0) return;
  }

  auto job = std::make_shared<DiscoveryJob>();
  job->url = L"https://" + std::wstring(host.begin(), host.end());
  job->options = options;
  if (!configScript.empty()) {
    job->scriptUrl = configScript.get();
    job->options.lpszAutoConfigUrl = job->scriptUrl.c_str();
  }
  state_->deadline = GetTickCount64() + kDiscoveryLimitMs;
  state_->helper = StartHelper(job);
  state_->job = std::move(job);
}

ProxyLookup::~ProxyLookup() = default;  // a helper still out finishes on its own

ProxySetting ProxyLookup::Finish(WaitPulse& pulse) {
  const std::shared_ptr<DiscoveryJob> job = std::exchange(state_->job, nullptr);
  if (!job) return state_->fixed;
  ScriptAnswer answer;
  switch (state_->helper) {
    case Helper::NotStarted:
      answer = AskWinHttp(job->url, job->options);
      break;
    case Helper::StillBusy:
      diag::AppendErrorLog("proxy discovery still busy from an earlier call\n");
      break;
    case Helper::Started:
      if (WaitForJob(job->done.get(), state_->deadline, pulse) == WAIT_OBJECT_0) {
        answer = job->answer;
      } else {
        diag::AppendErrorLog("proxy discovery did not finish in time\n");
      }
      break;
  }
  if (!answer.found) return state_->fixed;
  ProxySetting found;
  found.autoDetected = 1;
  found.proxy = answer.proxy;
  found.bypass = answer.bypass;
  return found;
}

}  // namespace qardex::cloud
