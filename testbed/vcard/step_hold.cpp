#include "testbed/vcard/step_hold.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "testbed/vcard/vpcd_link.h"

namespace vcard {
namespace {

constexpr auto kPollSlice = std::chrono::milliseconds(20);

bool file_exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

}  // namespace

StepHolds::StepHolds(std::map<Command, std::string> holds, std::string sync_dir)
    : holds_(std::move(holds)), sync_dir_(std::move(sync_dir)) {}

StepHolds::Outcome StepHolds::before_answer(const Bytes& apdu, FrameLink& link) {
    const auto command = identify(apdu);
    if (!command) return Outcome::kAnswer;
    const auto hold = holds_.find(*command);
    if (hold == holds_.end()) return Outcome::kAnswer;

    const std::string base = sync_dir_ + "/" + hold->second;
    const std::string done = base + ".done";
    std::remove(done.c_str());
    if (!std::ofstream(base + ".request")) {
        std::fprintf(stderr, "qardex-vcard: cannot announce step '%s' in '%s'\n",
                     hold->second.c_str(), sync_dir_.c_str());
        return Outcome::kAnswer;
    }
    const auto deadline = std::chrono::steady_clock::now() + kHoldLimit;
    while (!file_exists(done)) {
        if (link.closed_within(kPollSlice)) return Outcome::kLinkClosed;
        if (std::chrono::steady_clock::now() >= deadline) {
            std::fprintf(stderr, "qardex-vcard: step '%s' was not done within %lld s\n",
                         hold->second.c_str(), static_cast<long long>(kHoldLimit.count()));
            break;
        }
    }
    return Outcome::kAnswer;
}

}  // namespace vcard
