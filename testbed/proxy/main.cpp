// qardex-proxy: a scripted HTTP proxy (and plain file server) for the CONNECT dialogue tests.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <sstream>

#include "testbed/proxy/proxy_session.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitBadInput = 2;

struct Options {
    std::string address = "127.0.0.1";
    long port = 0;
    proxy::ProxyModeList modes;
    std::string log_path;
    std::string ready_path;
    std::string file_path;
    long lifetime = 300;
    long connection_limit = 90;
};

std::string usage() {
    return "usage: qardex-proxy --port PORT --modes LIST [--address IPV4] [--log FILE]\n"
           "         [--ready-file FILE] [--file FILE] [--lifetime SECONDS]\n"
           "         [--connection-limit SECONDS]\n"
           "Serves one connection per mode of LIST (NAME or NAME*COUNT, comma-separated), one\n"
           "after the other, recording each request's bytes in the log (\"N request ...\" with\n"
           "\\r and \\n escaped); exits when the list is used up or after --lifetime (300 s).\n"
           "Modes:\n" +
           proxy::describe_proxy_modes();
}

bool number_in(const std::string& text, long min, long max, long& out) {
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != text.npos) {
        return false;
    }
    out = std::strtol(text.c_str(), nullptr, 10);
    return out >= min && out <= max;
}

// Empty error: fine. "help": usage asked for.
std::string parse(const std::vector<std::string>& arguments, Options& options) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        if (name == "--help" || name == "-h") return "help";
        if (i + 1 >= arguments.size()) return "missing value after " + name;
        const std::string& value = arguments[++i];
        if (name == "--port") {
            if (!number_in(value, 1, 65535, options.port)) return "bad port '" + value + "'";
        } else if (name == "--address") {
            options.address = value;
        } else if (name == "--modes") {
            options.modes = proxy::parse_proxy_modes(value);
            if (!options.modes.error.empty()) return options.modes.error;
        } else if (name == "--log") {
            options.log_path = value;
        } else if (name == "--ready-file") {
            options.ready_path = value;
        } else if (name == "--file") {
            options.file_path = value;
        } else if (name == "--lifetime") {
            if (!number_in(value, 1, 86400, options.lifetime)) return "bad --lifetime";
        } else if (name == "--connection-limit") {
            if (!number_in(value, 1, 3600, options.connection_limit)) {
                return "bad --connection-limit";
            }
        } else {
            return "unknown option " + name;
        }
    }
    if (options.port == 0) return "--port is required";
    if (options.modes.modes.empty()) return "--modes is required";
    return {};
}

int run(const Options& options) {
    proxy::ProxyContext context;
    context.connection_limit = std::chrono::seconds(options.connection_limit);
    if (!options.file_path.empty()) {
        std::ifstream file(options.file_path, std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "qardex-proxy: cannot read '%s'\n", options.file_path.c_str());
            return kExitBadInput;
        }
        std::ostringstream content;
        content << file.rdbuf();
        context.file_content = content.str();
    }
    testnet::EventLog log(options.log_path);
    if (!log.ok()) {
        std::fprintf(stderr, "qardex-proxy: cannot append to '%s'\n", options.log_path.c_str());
        return kExitBadInput;
    }
    std::string error;
    const testnet::UniqueFd listener =
        testnet::listen_on(options.address, static_cast<std::uint16_t>(options.port), error);
    if (!listener.valid()) {
        std::fprintf(stderr, "qardex-proxy: %s\n", error.c_str());
        return kExitFailure;
    }
    if (!options.ready_path.empty() && !std::ofstream(options.ready_path)) {
        std::fprintf(stderr, "qardex-proxy: cannot create '%s'\n", options.ready_path.c_str());
        return kExitFailure;
    }
    const auto end = testnet::Clock::now() + std::chrono::seconds(options.lifetime);
    int number = 0;
    for (const proxy::ProxyMode mode : options.modes.modes) {
        const testnet::UniqueFd client = testnet::accept_until(listener, end);
        if (!client.valid()) {
            log.write(0, "lifetime-over");
            return 0;
        }
        proxy::serve_proxy_connection(client, ++number, mode, context, log);
    }
    log.write(0, "modes-used-up");
    return 0;
}

}  // namespace

int main(int argc, char** argv) try {
    std::signal(SIGPIPE, SIG_IGN);
    Options options;
    const std::string error = parse(std::vector<std::string>(argv + 1, argv + argc), options);
    if (error == "help") {
        std::fputs(usage().c_str(), stdout);
        return 0;
    }
    if (!error.empty()) {
        std::fprintf(stderr, "qardex-proxy: %s\n%s", error.c_str(), usage().c_str());
        return kExitBadInput;
    }
    return run(options);
} catch (const std::exception& e) {
    std::fprintf(stderr, "qardex-proxy: %s\n", e.what());
    return kExitFailure;
}
