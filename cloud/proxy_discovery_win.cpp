#include <windows.h>
#include <winhttp.h>

#include "cloud/server_connection.h"

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

}  // namespace

ProxySetting discover_proxy(const std::wstring& url) {
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

  // When automatic discovery yields nothing, a static proxy the user also
  // configured still applies rather than a direct connection.
  auto fallBackToStatic = [&] {
    if (!staticProxy.empty()) {
      result.proxy = staticProxy.Text();
      result.bypass = staticBypass.Text();
    }
  };
  const WinHttpHandle session(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                          WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session.get()) {
    fallBackToStatic();
    return result;
  }
  // A script server that accepts but never answers must not hold the page.
  WinHttpSetTimeouts(session.get(), kDiscoveryResolveLimitMs, kDiscoveryConnectLimitMs,
                     kDiscoverySendLimitMs, kDiscoveryReceiveLimitMs);
  WINHTTP_PROXY_INFO info{};
  if (WinHttpGetProxyForUrl(session.get(), url.c_str(), &options, &info)) {
    const WinHttpString proxy(info.lpszProxy);
    const WinHttpString bypass(info.lpszProxyBypass);
    result.autoDetected = 1;
    result.proxy = proxy.Text();
    result.bypass = bypass.Text();
  } else {
    fallBackToStatic();
  }
  return result;
}

}  // namespace qardex::cloud
