#include <windows.h>
#include <exdisp.h>
#include <mshtml.h>
#include <servprov.h>
#include <shlwapi.h>
#include <urlmon.h>

#include "com/com_ptr.h"
#include "sitelock/hosting_page.h"

namespace qardex::sitelock {

namespace {

using com::Bstr;
using com::ComPtr;

constexpr DWORD kSchemeLimit = 32;
constexpr DWORD kIdnUseStd3AsciiRules = 2;

// One part of the address; nothing when the platform cannot give it.
std::optional<std::wstring> UrlPart(const wchar_t* url, DWORD part, DWORD limit) {
  std::wstring text(limit + 1, L'\0');
  DWORD length = limit + 1;
  if (FAILED(UrlGetPartW(url, text.data(), &length, part, 0))) return std::nullopt;
  text.resize(wcsnlen(text.c_str(), limit));
  return text;
}

// Whether the address carries a user name or password part. Only an answer
// of "none" counts as none (E_INVALIDARG is how the platform says the URL has
// no such part; S_FALSE is accepted too); a part too long for the buffer is
// present, and any other failure gives nothing, so the check fails closed.
std::optional<bool> HasUserPart(const wchar_t* url, DWORD part) {
  std::wstring text(kHostLimit + 1, L'\0');
  DWORD length = kHostLimit + 1;
  const HRESULT result = UrlGetPartW(url, text.data(), &length, part, 0);
  if (result == E_POINTER) return true;
  if (result == E_INVALIDARG || result == S_FALSE) return false;
  if (result != S_OK) return std::nullopt;
  return text[0] != L'\0';
}

// The page address and the service provider that knows its zone.
bool FindAddress(IUnknown* site, Bstr& url, ComPtr<IServiceProvider>& provider) {
  ComPtr<IServiceProvider> siteProvider;
  if (FAILED(site->QueryInterface(IID_IServiceProvider, siteProvider.ReceiveVoid()))) return false;

  ComPtr<IWebBrowser2> browser;
  // The browser service is named by the IWebBrowserApp identifier.
  if (SUCCEEDED(siteProvider->QueryService(IID_IWebBrowserApp, IID_IWebBrowser2,
                                           browser.ReceiveVoid()))) {
    BSTR location = nullptr;
    if (FAILED(browser->get_LocationURL(&location)) || location == nullptr) return false;
    url = Bstr(location);
    provider = siteProvider;
    return true;
  }

  ComPtr<IOleClientSite> clientSite;
  ComPtr<IOleContainer> container;
  ComPtr<IHTMLDocument2> document;
  BSTR documentUrl = nullptr;
  if (FAILED(site->QueryInterface(IID_IOleClientSite, clientSite.ReceiveVoid())) ||
      FAILED(clientSite->GetContainer(container.Receive())) || !container ||
      FAILED(container->QueryInterface(IID_IHTMLDocument2, document.ReceiveVoid())) ||
      FAILED(document->get_URL(&documentUrl)) || documentUrl == nullptr) {
    return false;
  }
  url = Bstr(documentUrl);
  return SUCCEEDED(clientSite->QueryInterface(IID_IServiceProvider, provider.ReceiveVoid()));
}

// A loaded system library, freed when done.
class SystemLibrary {
 public:
  explicit SystemLibrary(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    const std::wstring path = std::wstring(folder, length) + L"\\" + name;
    module_ = LoadLibraryW(path.c_str());
  }
  ~SystemLibrary() {
    if (module_) FreeLibrary(module_);
  }
  SystemLibrary(const SystemLibrary&) = delete;
  SystemLibrary& operator=(const SystemLibrary&) = delete;
  FARPROC Find(const char* name) const { return module_ ? GetProcAddress(module_, name) : nullptr; }

 private:
  HMODULE module_ = nullptr;
};

}  // namespace

std::optional<std::wstring> SystemIdnToAscii(const std::wstring& host) {
  using IdnToAsciiFn = int(WINAPI*)(DWORD, LPCWSTR, int, LPWSTR, int);
  const SystemLibrary normaliz(L"normaliz.dll");
  const auto toAscii =
      reinterpret_cast<IdnToAsciiFn>(reinterpret_cast<void*>(normaliz.Find("IdnToAscii")));
  if (toAscii == nullptr) return std::nullopt;
  wchar_t ascii[kHostLimit + 1] = {};
  const int length = toAscii(kIdnUseStd3AsciiRules, host.c_str(), -1, ascii, kHostLimit + 1);
  if (length <= 0) return std::nullopt;
  return std::wstring(ascii);
}

std::optional<PageAddress> FindHostingPage(IUnknown* site) {
  if (site == nullptr) return std::nullopt;
  Bstr url;
  ComPtr<IServiceProvider> provider;
  if (!FindAddress(site, url, provider)) return std::nullopt;

  ComPtr<IInternetSecurityManager> security;
  DWORD zone = 0;
  if (FAILED(provider->QueryService(SID_SInternetSecurityManager, IID_IInternetSecurityManager,
                                    security.ReceiveVoid())) ||
      FAILED(security->MapUrlToZone(url.get(), &zone, 0))) {
    return std::nullopt;
  }

  PageAddress page;
  page.zone = static_cast<int>(zone);
  std::optional<std::wstring> scheme = UrlPart(url.get(), URL_PART_SCHEME, kSchemeLimit);
  if (!scheme) return std::nullopt;
  page.scheme = *scheme;
  page.host = UrlPart(url.get(), URL_PART_HOSTNAME, kHostLimit).value_or(L"");
  const std::optional<bool> userName = HasUserPart(url.get(), URL_PART_USERNAME);
  const std::optional<bool> password = HasUserPart(url.get(), URL_PART_PASSWORD);
  if (!userName || !password) return std::nullopt;
  page.hasUserName = *userName;
  page.hasPassword = *password;
  return page;
}

bool IsSiteApproved(IUnknown* site) {
  const std::optional<PageAddress> page = FindHostingPage(site);
  return page && IsApprovedPage(*page, SystemIdnToAscii);
}

}  // namespace qardex::sitelock
