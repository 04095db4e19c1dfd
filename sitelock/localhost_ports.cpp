#include "sitelock/localhost_ports.h"

#include <algorithm>

namespace qardex::sitelock {

namespace {

constexpr std::uint32_t kHighestPort = 65535;

bool IsSeparator(char c) { return c == ',' || c == ' '; }

}  // namespace

bool LocalhostPorts::Lists(std::uint16_t port) const {
  return std::binary_search(ports.begin(), ports.end(), port);
}

std::optional<LocalhostPorts> ParseLocalhostPorts(std::string_view text) {
  if (text.size() > kLocalhostPortsTextLimit) return std::nullopt;
  LocalhostPorts list;
  while (!text.empty()) {
    if (IsSeparator(text.front())) {
      text.remove_prefix(1);
      continue;
    }
    std::size_t digits = 0;
    while (digits < text.size() && !IsSeparator(text[digits])) ++digits;
    const std::string_view number = text.substr(0, digits);
    text.remove_prefix(digits);
    if (number.size() > 5 || number.front() == '0') return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : number) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value > kHighestPort) return std::nullopt;
    list.ports.push_back(static_cast<std::uint16_t>(value));
  }
  if (list.ports.size() > kLocalhostPortsLimit) return std::nullopt;
  std::sort(list.ports.begin(), list.ports.end());
  list.ports.erase(std::unique(list.ports.begin(), list.ports.end()), list.ports.end());
  return list;
}

LocalhostPorts LocalhostPortsOf(const PolicyText& read) {
  if (read.state != PolicyText::State::Text) return {};
  return ParseLocalhostPorts(read.text).value_or(LocalhostPorts{});
}

bool IsApprovedOrigin(const PageAddress& page, std::uint16_t port, const LocalhostPorts& ports) {
  for (const wchar_t c : page.host) {
    if (static_cast<unsigned long>(c) > 127) return false;
  }
  if (!IsApprovedPage(page, nullptr)) return false;
  return !IsLocalhostName(page.host) || (page.host == L"localhost" && ports.Lists(port));
}

}  // namespace qardex::sitelock
