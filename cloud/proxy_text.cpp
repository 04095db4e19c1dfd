#include "cloud/proxy_text.h"

#include <climits>

namespace qardex::cloud {

int ReadDecimalLikeAtoi(const char* text) {
  if (text == nullptr) return 0;
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  long long value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > INT_MAX) return negative ? INT_MIN : INT_MAX;  // saturate, never overflow
  }
  return static_cast<int>(negative ? -value : value);
}

ProxyEndpoint SplitProxyText(const std::string& proxyText) {
  const std::string text = proxyText.substr(0, kProxyTextLimit);
  ProxyEndpoint endpoint;
  const std::size_t colon = text.find(':');
  endpoint.host = text.substr(0, colon).substr(0, kProxyHostLimit);
  endpoint.port = colon == std::string::npos ? 0 : ReadDecimalLikeAtoi(text.c_str() + colon + 1);
  endpoint.useProxy = !endpoint.host.empty();
  return endpoint;
}

}  // namespace qardex::cloud
