// qardex-vcard: a virtual HC card that plugs into a vpcd reader slot of pcscd.
#include <cstdio>
#include <exception>
#include <memory>

#include "testbed/vcard/apdu_log.h"
#include "testbed/vcard/card_config.h"
#include "testbed/vcard/command_line.h"
#include "testbed/vcard/hc_card.h"
#include "testbed/vcard/sam_auth.h"
#include "testbed/vcard/step_hold.h"
#include "testbed/vcard/vpcd_dispatcher.h"
#include "testbed/vcard/vpcd_link.h"

namespace {

constexpr int kExitLinkFailure = 1;
constexpr int kExitBadInput = 2;

int run(const vcard::Options& options) {
    vcard::CardProfile profile = vcard::default_profile();
    if (!options.profile_path.empty()) {
        auto loaded = vcard::load_card_config(options.profile_path);
        if (!loaded.profile) {
            std::fprintf(stderr, "qardex-vcard: %s\n", loaded.error.c_str());
            return kExitBadInput;
        }
        profile = std::move(*loaded.profile);
    }

    std::unique_ptr<vcard::ApduLog> log;
    if (!options.apdu_log_path.empty()) {
        log = std::make_unique<vcard::ApduLog>(options.apdu_log_path);
        if (!log->ok()) {
            std::fprintf(stderr, "qardex-vcard: cannot append to '%s'\n",
                         options.apdu_log_path.c_str());
            return kExitBadInput;
        }
    }

    if (!profile.holds.empty() && options.sync_dir.empty()) {
        std::fprintf(stderr, "qardex-vcard: a profile with hold.* keys needs --sync-dir\n");
        return kExitBadInput;
    }
    vcard::StepHolds holds(profile.holds, options.sync_dir);
    auto authenticator =
        std::make_unique<vcard::SharedSecretAuthenticator>(profile.card_id, profile.sam_secret);
    vcard::HcCard card(std::move(profile), vcard::system_random(), std::move(authenticator));
    vcard::VpcdDispatcher dispatcher(
        card, [&log](const vcard::Bytes& command, const vcard::Bytes& response) {
            if (log) log->record(command, response);
        });

    std::string error;
    vcard::UniqueFd socket =
        vcard::connect_with_retry(options.host, options.port, options.connect_patience, error);
    if (!socket.valid()) {
        std::fprintf(stderr, "qardex-vcard: %s\n", error.c_str());
        return kExitLinkFailure;
    }
    vcard::FrameLink link(std::move(socket));
    if (!vcard::serve_vpcd(link, dispatcher, &holds)) {
        std::fprintf(stderr, "qardex-vcard: %s\n", link.error().c_str());
        return kExitLinkFailure;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) try {
    const auto parsed = vcard::parse_command_line(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        if (parsed.error == "help") {
            std::fputs(vcard::kUsage, stdout);
            return 0;
        }
        std::fprintf(stderr, "qardex-vcard: %s\n%s", parsed.error.c_str(), vcard::kUsage);
        return kExitBadInput;
    }
    return run(*parsed.options);
} catch (const std::exception& e) {
    std::fprintf(stderr, "qardex-vcard: %s\n", e.what());
    return kExitLinkFailure;
}
