// What the scripted proxy answers, one mode per connection: statuses that tinyproxy cannot be
// made to give, and a few broken answers.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace proxy {

enum class ProxyMode {
    kRedirect,         // 302 with a Location header
    kAuth401Basic,     // 401 with WWW-Authenticate: Basic
    kAuth407Basic,     // 407 with Proxy-Authenticate: Basic
    kAuth407Ntlm,      // 407 offering NTLM and Negotiate only
    kAuth407NoScheme,  // 407 whose Proxy-Authenticate: names no scheme
    kForbidden,        // 403
    kStatusNoBlank,    // a status line without a blank
    kOkThenClose,      // 200, one header line, then the connection ends
    kTunnelThenClose,  // 200 and its blank line (a tunnel), then the connection ends
    kEndlessHeaders,   // 200, then one header line a second, never the blank line
    kFloodHeaders,     // 200, then header lines as fast as the client reads, never the blank line
    kSilent,           // reads the request and never answers
    kServeFile,        // a plain HTTP server answering any request with the --file content
};

std::string_view proxy_mode_name(ProxyMode mode);

struct ProxyModeList {
    std::vector<ProxyMode> modes;
    std::string error;
};

// NAME or NAME*COUNT, separated by commas; at most 10000 connections.
ProxyModeList parse_proxy_modes(std::string_view text);

std::string describe_proxy_modes();

// The whole answer for the modes that answer at once; nothing for kEndlessHeaders,
// kFloodHeaders, kSilent and kServeFile, which answer in their own way.
std::optional<std::string> canned_answer(ProxyMode mode);

// "\r" and "\n" written as such, other control bytes as \xHH: one line per request in the record.
std::string escape_bytes(std::string_view bytes);

}  // namespace proxy
