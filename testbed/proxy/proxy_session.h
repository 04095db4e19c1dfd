// One connection of the scripted proxy: records the request bytes exactly as they came, then
// answers as the connection's mode says.
#pragma once

#include <chrono>
#include <string>

#include "testbed/authserver/event_log.h"
#include "testbed/authserver/tcp.h"
#include "testbed/proxy/proxy_modes.h"

namespace proxy {

struct ProxyContext {
    std::string file_content;  // for kServeFile
    std::string file_type = "application/x-ns-proxy-autoconfig";
    std::chrono::seconds connection_limit{90};
    // How long a request may take to reach its blank line before the answer goes out anyway.
    std::chrono::milliseconds request_wait{5000};
    std::chrono::milliseconds header_interval{1000};  // kEndlessHeaders
};

// Log lines: "N mode NAME", "N request ESCAPED-BYTES", "N request-complete yes|no",
// "N end HOW". Never throws.
void serve_proxy_connection(const testnet::UniqueFd& socket, int number, ProxyMode mode,
                            const ProxyContext& context, testnet::EventLog& log);

}  // namespace proxy
