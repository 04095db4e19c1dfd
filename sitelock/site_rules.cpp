#include "sitelock/site_rules.h"

#include <cwctype>

namespace qardex::sitelock {

namespace {

bool EndsWithLabel(std::wstring_view host, std::wstring_view domain) {
  // host ends with "." followed by domain
  return host.size() > domain.size() && host[host.size() - domain.size() - 1] == L'.' &&
         host.substr(host.size() - domain.size()) == domain;
}

// "0" to "255" in plain decimal, no sign, no leading zero.
bool IsAddressByte(std::wstring_view text) {
  if (text.empty() || text.size() > 3) return false;
  if (text.size() > 1 && text[0] == L'0') return false;
  int value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    value = value * 10 + (c - L'0');
  }
  return value <= 255;
}

// "a.b.c.*" where a.b.c are address bytes: the whole range of the last byte.
bool IsAddressRangePattern(std::wstring_view pattern) {
  if (pattern.size() < 2 || pattern.substr(pattern.size() - 2) != L".*") return false;
  std::wstring_view prefix = pattern.substr(0, pattern.size() - 2);
  for (int part = 0; part < 3; ++part) {
    const std::size_t dot = prefix.find(L'.');
    const std::wstring_view piece = part < 2 ? prefix.substr(0, dot) : prefix;
    if (!IsAddressByte(piece)) return false;
    if (part < 2) {
      if (dot == std::wstring_view::npos) return false;
      prefix = prefix.substr(dot + 1);
    }
  }
  return true;
}

std::wstring Canonical(std::wstring host) {
  while (!host.empty() && host.back() == L'.') host.pop_back();
  for (wchar_t& c : host) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return host;
}

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

}  // namespace

bool ZoneMarkerMatches(ZoneMarker marker, int zone) {
  switch (marker) {
    case kIntranetOrTrusted:
      return zone == 1 || zone == 2;
    case kLocalMachine:
      return zone == 0;
    case kTrustedSites:
      return zone == 2;
    case kNoZoneMarker:
      break;
  }
  return false;
}

bool DomainPatternMatches(std::wstring_view pattern, std::wstring_view host) {
  if (host.empty() || pattern.empty()) return false;
  if (pattern == L"*") return true;
  if (IsAddressRangePattern(pattern)) {
    const std::wstring_view prefix = pattern.substr(0, pattern.size() - 1);  // "a.b.c."
    return host.size() > prefix.size() && host.substr(0, prefix.size()) == prefix &&
           IsAddressByte(host.substr(prefix.size()));
  }
  if (pattern.size() > 2 && pattern.substr(0, 2) == L"*.") {
    return EndsWithLabel(host, pattern.substr(2));
  }
  if (pattern.size() >= 2 && pattern[0] == L'=') return host == pattern.substr(1);
  return host == pattern || EndsWithLabel(host, pattern);
}

bool ListApproves(std::wstring_view scheme, std::wstring_view host, int zone) {
  for (const ApprovedSite& site : kApprovedSites) {
    if (scheme != site.scheme) continue;
    const bool matches = site.domain == nullptr ? ZoneMarkerMatches(site.zone, zone)
                                                : DomainPatternMatches(site.domain, host);
    if (matches) return site.kind == SiteKind::Allow;
  }
  return false;
}

bool IsApprovedPage(const PageAddress& page, const IdnConverter& toAscii) {
  const bool webScheme =
      EqualsIgnoringCase(page.scheme, L"http") || EqualsIgnoringCase(page.scheme, L"https");
  if (webScheme && (page.hasUserName || page.hasPassword)) return false;

  std::wstring host = page.host;
  bool ascii = true;
  for (wchar_t c : host) ascii = ascii && static_cast<unsigned long>(c) <= 127;
  if (!ascii) {
    const std::optional<std::wstring> converted = toAscii ? toAscii(host) : std::nullopt;
    if (!converted || converted->size() > kHostLimit) return false;
    host = *converted;
  }
  return ListApproves(page.scheme, host, page.zone) &&
         ListApproves(page.scheme, Canonical(host), page.zone);
}

}  // namespace qardex::sitelock
