// How a proxy text such as "proxy.example:8080" becomes the proxy to use.
#pragma once

#include <cstddef>
#include <string>

namespace qardex::cloud {

// At most 255 bytes of the proxy text and 51 of its host name are used.
inline constexpr std::size_t kProxyTextLimit = 255;
inline constexpr std::size_t kProxyHostLimit = 51;

struct ProxyEndpoint {
  bool useProxy = false;  // a non-empty host name decides
  std::string host;
  int port = 0;  // the text after the first colon, read like atoi
};

// Splits at the first colon: "h:8080" -> h, 8080; "h" -> h, 0 (fails to
// connect later); "h1:81;h2:82" -> h1, 81; ":81" or "" -> direct.
ProxyEndpoint SplitProxyText(const std::string& proxyText);

// atoi's reading: blanks, a sign, then digits up to the first non-digit.
int ReadDecimalLikeAtoi(const char* text);

}  // namespace qardex::cloud
