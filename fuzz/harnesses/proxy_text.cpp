// The proxy text split, checked against a reading of the same text through
// the C library (strtoll, clamped to int).
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cloud/proxy_text.h"
#include "fuzz/support/finding.h"

using namespace qardex;

namespace {
int ReferencePort(const std::string& text) {
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const cloud::ProxyEndpoint endpoint = cloud::SplitProxyText(text);
  QARDEX_FUZZ_CHECK(endpoint.host.size() <= cloud::kProxyHostLimit, "proxy host limit");
  QARDEX_FUZZ_CHECK(endpoint.host.find(':') == std::string::npos, "host stops at the colon");
  QARDEX_FUZZ_CHECK(endpoint.useProxy == !endpoint.host.empty(), "proxy use");
  const std::string used = text.substr(0, cloud::kProxyTextLimit);
  QARDEX_FUZZ_CHECK(used.compare(0, endpoint.host.size(), endpoint.host) == 0,
                    "host is the text's start");
  const std::size_t colon = used.find(':');
  if (colon == std::string::npos) {
    QARDEX_FUZZ_CHECK(endpoint.port == 0, "no colon, no port");
  } else {
    // The C library stops at a NUL the same way the split's reading does.
    QARDEX_FUZZ_CHECK(endpoint.port == ReferencePort(used.substr(colon + 1)), "port reading");
  }
  return 0;
}
