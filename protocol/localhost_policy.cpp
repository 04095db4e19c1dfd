#include "protocol/localhost_policy.h"

#include <utility>

#include "common/policy_values.h"

namespace qardex::service {

namespace {

bool SameRead(const PolicyText& a, const PolicyText& b) {
  return a.state == b.state && a.text == b.text && a.error == b.error;
}

std::string PortsText(const sitelock::LocalhostPorts& list) {
  std::string text;
  for (const std::uint16_t port : list.ports) {
    text += (text.empty() ? "" : ", ") + std::to_string(port);
  }
  return text.empty() ? "none" : text;
}

}  // namespace

LocalhostPolicy::LocalhostPolicy(PolicyTextReader read, SteadyClock clock, ServiceLog& log,
                                 std::chrono::steady_clock::duration reread)
    : read_(std::move(read)), clock_(std::move(clock)), log_(log), reread_(reread) {}

sitelock::LocalhostPorts LocalhostPolicy::Current() {
  std::lock_guard<std::mutex> hold(lock_);
  const auto now = clock_();
  if (!readAt_ || now - *readAt_ >= reread_) {
    readAt_ = now;
    Apply(read_ ? read_() : PolicyText{});
  }
  return ports_;
}

void LocalhostPolicy::Apply(const PolicyText& read) {
  if (last_ && SameRead(*last_, read)) return;
  last_ = read;
  const std::string name = std::string("policy ") + common::kLocalhostPortsValue;
  std::optional<sitelock::LocalhostPorts> parsed;
  switch (read.state) {
    case PolicyText::State::Absent:
      parsed = sitelock::LocalhostPorts{};
      break;
    case PolicyText::State::Text:
      parsed = sitelock::ParseLocalhostPorts(read.text);
      if (!parsed) log_.Write(name + " is not a list of port numbers: it lists none");
      break;
    case PolicyText::State::Unreadable:
      log_.Write(name + " cannot be read (error " + std::to_string(read.error) +
                 "): it lists none");
      break;
  }
  ports_ = parsed.value_or(sitelock::LocalhostPorts{});
  log_.Write("pages on http://localhost approved on ports: " + PortsText(ports_));
}

}  // namespace qardex::service
