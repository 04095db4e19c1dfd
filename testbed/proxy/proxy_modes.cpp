#include "testbed/proxy/proxy_modes.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "testbed/mode_list.h"

namespace proxy {
namespace {

struct ModeInfo {
    ProxyMode mode;
    std::string_view name;
    std::string_view help;
};

constexpr std::array<ModeInfo, 13> kModes = {{
    {ProxyMode::kRedirect, "302", "302 Found with a Location header"},
    {ProxyMode::kAuth401Basic, "401-basic", "401 with WWW-Authenticate: Basic"},
    {ProxyMode::kAuth407Basic, "407-basic", "407 with Proxy-Authenticate: Basic"},
    {ProxyMode::kAuth407Ntlm, "407-ntlm", "407 with Proxy-Authenticate: NTLM and Negotiate"},
    {ProxyMode::kAuth407NoScheme, "407-no-scheme", "407 with an empty Proxy-Authenticate:"},
    {ProxyMode::kForbidden, "403", "403 Forbidden"},
    {ProxyMode::kStatusNoBlank, "status-no-blank", "the status line \"HTTP/1.0-200\""},
    {ProxyMode::kOkThenClose, "200-close", "200 and one header line, then close"},
    {ProxyMode::kTunnelThenClose, "200-tunnel", "200 and the blank line, then close"},
    {ProxyMode::kEndlessHeaders, "endless-headers", "200, then a header line a second for ever"},
    {ProxyMode::kFloodHeaders, "flood-headers", "200, then header lines without a pause"},
    {ProxyMode::kSilent, "silent", "read the request, never answer"},
    {ProxyMode::kServeFile, "serve-file", "answer any request with the --file content"},
}};

}  // namespace

std::string_view proxy_mode_name(ProxyMode mode) {
    for (const auto& info : kModes) {
        if (info.mode == mode) return info.name;
    }
    return "?";
}

ProxyModeList parse_proxy_modes(std::string_view text) {
    ProxyModeList result;
    auto lookup = [](std::string_view name, std::string* error) -> std::optional<ProxyMode> {
        for (const auto& info : kModes) {
            if (info.name == name) return info.mode;
        }
        *error = "unknown mode '" + std::string(name) + "'";
        return std::nullopt;
    };
    if (auto modes = testbed::ExpandModeList<ProxyMode>(text, lookup, &result.error)) {
        result.modes = std::move(*modes);
    }
    return result;
}

std::string describe_proxy_modes() {
    std::string text;
    for (const auto& info : kModes) {
        std::string name(info.name);
        name.resize(18, ' ');
        text += "  " + name + std::string(info.help) + "\n";
    }
    return text;
}

std::optional<std::string> canned_answer(ProxyMode mode) {
    switch (mode) {
        case ProxyMode::kRedirect:
            return "HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1/elsewhere\r\n\r\n";
        case ProxyMode::kAuth401Basic:
            return "HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"qardex\"\r\n"
                   "Content-Length: 0\r\n\r\n";
        case ProxyMode::kAuth407Basic:
            return "HTTP/1.0 407 Proxy Authentication Required\r\n"
                   "Proxy-Authenticate: Basic realm=\"qardex\"\r\nContent-Length: 0\r\n\r\n";
        case ProxyMode::kAuth407Ntlm:
            return "HTTP/1.0 407 Proxy Authentication Required\r\n"
                   "Proxy-Authenticate: NTLM\r\nProxy-Authenticate: Negotiate\r\n"
                   "Content-Length: 0\r\n\r\n";
        case ProxyMode::kAuth407NoScheme:
            return "HTTP/1.0 407 Proxy Authentication Required\r\nProxy-Authenticate:\r\n\r\n";
        case ProxyMode::kForbidden:
            return "HTTP/1.0 403 Forbidden\r\nContent-Length: 0\r\n\r\n";
        case ProxyMode::kStatusNoBlank:
            return "HTTP/1.0-200\r\n\r\n";
        case ProxyMode::kOkThenClose:
            return "HTTP/1.0 200 Connection established\r\nProxy-agent: qardex-proxy\r\n";
        case ProxyMode::kTunnelThenClose:
            return "HTTP/1.0 200 Connection established\r\nProxy-agent: qardex-proxy\r\n\r\n";
        case ProxyMode::kEndlessHeaders:
        case ProxyMode::kFloodHeaders:
        case ProxyMode::kSilent:
        case ProxyMode::kServeFile:
            return std::nullopt;
    }
    return std::nullopt;
}

std::string escape_bytes(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (b < 0x20 || b >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace proxy
