// qardex-authserver: a test authentication server for the control's H_Sign and ServiceStatus.
#include <csignal>
#include <cstdio>
#include <exception>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "testbed/authserver/event_log.h"
#include "testbed/authserver/options.h"
#include "testbed/authserver/session.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitBadInput = 2;

struct PipeClose {
    void operator()(std::FILE* pipe) const { pclose(pipe); }
};

// Runs "TOOL hello-key" and reads the 32 hex digits it prints.
std::optional<std::array<std::uint8_t, 16>> hello_key_from_tool(const std::string& tool) {
    if (tool.find('\'') != std::string::npos) return std::nullopt;
    const std::string command = "'" + tool + "' hello-key";
    std::unique_ptr<std::FILE, PipeClose> pipe(popen(command.c_str(), "r"));
    if (!pipe) return std::nullopt;
    char line[128] = {};
    if (std::fgets(line, sizeof line, pipe.get()) == nullptr) return std::nullopt;
    return authserver::parse_hello_key(line);
}

// The base64 lines of a PEM text joined into one, without the BEGIN and END lines: the DER that
// tests digest to pin the key.
std::string pem_base64(const std::string& pem) {
    std::string joined;
    std::istringstream lines(pem);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("-----", 0) != 0) joined += line;
    }
    return joined;
}

int run(const authserver::Options& options) {
    auto hello_key = options.hello_key;
    if (!hello_key) hello_key = hello_key_from_tool(options.hello_key_tool);
    if (!hello_key) {
        std::fprintf(stderr, "qardex-authserver: no HelloKey from '%s hello-key'\n",
                     options.hello_key_tool.c_str());
        return kExitBadInput;
    }
    testnet::EventLog log(options.log_path);
    if (!log.ok()) {
        std::fprintf(stderr, "qardex-authserver: cannot append to '%s'\n",
                     options.log_path.c_str());
        return kExitBadInput;
    }
    const auto server_key = authserver::RsaKey::generate();
    if (!server_key) {
        std::fprintf(stderr, "qardex-authserver: cannot make an RSA key\n");
        return kExitFailure;
    }
    log.write(0, "server-key", pem_base64(server_key->public_pem()));

    std::string error;
    const testnet::UniqueFd listener = testnet::listen_on(options.address, options.port, error);
    if (!listener.valid()) {
        std::fprintf(stderr, "qardex-authserver: %s\n", error.c_str());
        return kExitFailure;
    }
    if (!options.ready_path.empty() && !std::ofstream(options.ready_path)) {
        std::fprintf(stderr, "qardex-authserver: cannot create '%s'\n", options.ready_path.c_str());
        return kExitFailure;
    }

    authserver::ServerContext context{*server_key, authserver::hello_tdes_key(*hello_key),
                                      options.card_secret,
                                      std::chrono::seconds(options.connection_seconds)};
    context.quick_ack = options.quick_ack;
    const auto end = testnet::Clock::now() + std::chrono::seconds(options.lifetime_seconds);
    int number = 0;
    std::optional<testnet::Clock::time_point> previous_end;
    for (const auto& mode : options.modes) {
        const testnet::UniqueFd client = testnet::accept_until(listener, end);
        if (!client.valid()) {
            log.write(0, "lifetime-over");
            return 0;
        }
        ++number;
        if (previous_end) {
            // The client's time between two connections (the benchmark's split of a call).
            const std::chrono::duration<double, std::milli> gap =
                testnet::Clock::now() - *previous_end;
            char text[32];
            std::snprintf(text, sizeof text, "%.1f", gap.count());
            log.write(number, "gap-ms", text);
        }
        authserver::serve_connection(client, number, mode, context, log);
        previous_end = testnet::Clock::now();
    }
    log.write(0, "modes-used-up");
    return 0;
}

}  // namespace

int main(int argc, char** argv) try {
    std::signal(SIGPIPE, SIG_IGN);
    const auto parsed = authserver::parse_options(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        if (parsed.error == "help") {
            std::fputs(authserver::usage().c_str(), stdout);
            return 0;
        }
        std::fprintf(stderr, "qardex-authserver: %s\n%s", parsed.error.c_str(),
                     authserver::usage().c_str());
        return kExitBadInput;
    }
    return run(*parsed.options);
} catch (const std::exception& e) {
    std::fprintf(stderr, "qardex-authserver: %s\n", e.what());
    return kExitFailure;
}
