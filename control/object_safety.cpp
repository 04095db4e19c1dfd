// IObjectSafety with the site lock: the control declares itself safe for an
// untrusted caller only on approved pages.
#include <objsafe.h>

#include <array>

#include "control/ctwqardex.h"
#include "control/method_guard.h"
#include "sitelock/approved_sites.h"
#include "sitelock/hosting_page.h"

namespace qardex::control {

namespace {

constexpr DWORD kSafeForUntrustedCaller = INTERFACESAFE_FOR_UNTRUSTED_CALLER;
// What the site lock reports it can do, for selectors 0 and 1.
constexpr DWORD kSiteLockCapabilities = 0x3;

// The list in the form the site-lock query hands out.
const std::array<SiteLockEntry, sitelock::kApprovedSiteCount>& SiteLockEntries() {
  static const auto entries = [] {
    std::array<SiteLockEntry, sitelock::kApprovedSiteCount> table{};
    for (std::size_t i = 0; i < table.size(); ++i) {
      const sitelock::ApprovedSite& site = sitelock::kApprovedSites[i];
      table[i].kind = static_cast<DWORD>(site.kind);
      table[i].scheme = site.scheme;
      table[i].domain = site.domain != nullptr
                            ? site.domain
                            : reinterpret_cast<LPCWSTR>(static_cast<INT_PTR>(site.zone));
    }
    return table;
  }();
  return entries;
}

}  // namespace

bool CtwQARDEX::AnswersInterface(REFIID iid, HRESULT& error) {
  void* object = nullptr;
  error = QueryInterface(iid, &object);
  if (FAILED(error)) return false;
  static_cast<IUnknown*>(object)->Release();
  return true;
}

HRESULT CtwQARDEX::GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) {
  if (supported == nullptr || enabled == nullptr) return E_POINTER;
  *supported = 0;
  *enabled = 0;
  return Guarded([&] {
    HRESULT error = S_OK;
    if (!AnswersInterface(iid, error)) return error;
    const bool approved = sitelock::IsSiteApproved(site_.get());
    *supported = approved ? kSafeForUntrustedCaller : 0;
    *enabled = approved ? kSafeForUntrustedCaller : 0;
    return S_OK;
  });
}

HRESULT CtwQARDEX::SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) {
  return Guarded([&] {
    HRESULT error = S_OK;
    if (!AnswersInterface(iid, error)) return error;
    if ((mask & ~kSafeForUntrustedCaller) != 0) return E_FAIL;  // never safe for untrusted data
    if ((mask & enabled & kSafeForUntrustedCaller) != 0) {
      return sitelock::IsSiteApproved(site_.get()) ? S_OK : E_FAIL;
    }
    return S_OK;  // switching the option off needs no check
  });
}

HRESULT CtwQARDEX::GetCapabilities(DWORD* capability) {
  if (capability == nullptr) return E_POINTER;
  if (*capability == 0 || *capability == 1) {
    *capability = kSiteLockCapabilities;
    return S_OK;
  }
  *capability = 0;
  return E_NOTIMPL;
}

HRESULT CtwQARDEX::GetApprovedSites(const SiteLockEntry** sites, DWORD* count) {
  if (sites == nullptr || count == nullptr) return E_POINTER;
  return Guarded([&] {
    *sites = SiteLockEntries().data();
    *count = static_cast<DWORD>(SiteLockEntries().size());
    return S_OK;
  });
}

}  // namespace qardex::control
