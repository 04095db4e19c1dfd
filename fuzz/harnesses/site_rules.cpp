// The site rules, differentially: a host as the page wrote it (capitals,
// trailing dots, characters above 127 through a converter the input decides)
// is never approved where its canonical form is not.
#include <fuzzer/FuzzedDataProvider.h>

#include <optional>
#include <string>

#include "fuzz/support/finding.h"
#include "sitelock/site_rules.h"

using namespace qardex;

namespace {
std::wstring Canonical(std::wstring host) {
  while (!host.empty() && host.back() == L'.') host.pop_back();
  for (wchar_t& c : host) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return host;
}

std::wstring WideText(FuzzedDataProvider& input, std::size_t maxLength) {
  std::wstring text;
  const std::string bytes = input.ConsumeRandomLengthString(maxLength);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    // 0xFF escapes a character above 127; everything else is itself.
    if (c == 0xFF && i + 1 < bytes.size()) {
      text += static_cast<wchar_t>(0x100 + static_cast<unsigned char>(bytes[++i]));
    } else {
      text += static_cast<wchar_t>(c);
    }
  }
  return text;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  sitelock::PageAddress page;
  const std::uint8_t flags = input.ConsumeIntegral<std::uint8_t>();
  page.scheme = (flags & 1) ? L"https" : L"http";
  if (flags & 2) page.scheme = Canonical(page.scheme) == L"https" ? L"HTTPS" : L"Http";
  page.hasUserName = (flags & 4) != 0;
  page.hasPassword = (flags & 8) != 0;
  page.zone = input.ConsumeIntegralInRange<int>(-1, 5);
  page.host = WideText(input, 300);
  const std::wstring converted = WideText(input, 300);
  const bool converts = (flags & 16) != 0;
  const sitelock::IdnConverter toAscii =
      [&](const std::wstring&) -> std::optional<std::wstring> {
    if (!converts) return std::nullopt;
    return converted;
  };

  const bool approved = sitelock::IsApprovedPage(page, toAscii);
  if (!approved) return 0;
  QARDEX_FUZZ_CHECK(!page.hasUserName && !page.hasPassword, "user information approved");
  sitelock::PageAddress plain = page;
  plain.host = Canonical(page.host);
  QARDEX_FUZZ_CHECK(sitelock::IsApprovedPage(plain, toAscii),
                    "written form approved where its canonical form is not");
  // What the list approves, it approves for the name the converter gave.
  bool ascii = true;
  for (wchar_t c : page.host) ascii = ascii && static_cast<unsigned long>(c) <= 127;
  const std::wstring listed = ascii ? page.host : converted;
  QARDEX_FUZZ_CHECK(sitelock::ListApproves(page.scheme, Canonical(listed), page.zone),
                    "canonical name approved by the list");
  return 0;
}
