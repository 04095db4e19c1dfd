#include "checkup/network_verdicts.h"

#include <cctype>

#include "checkup/proxy_settings.h"
#include "common/text_conversion.h"

namespace qardex::checkup {

namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

// The entries of a list separated by any of `separators`, trimmed, empty ones left out.
std::vector<std::string_view> Entries(std::string_view list, std::string_view separators) {
  std::vector<std::string_view> entries;
  while (!list.empty()) {
    const std::size_t end = list.find_first_of(separators);
    const std::string_view entry = Trimmed(list.substr(0, end));
    if (!entry.empty()) entries.push_back(entry);
    list.remove_prefix(end == std::string_view::npos ? list.size() : end + 1);
  }
  return entries;
}

// '*' stands for any run of characters; both texts lower-case.
bool Glob(std::string_view pattern, std::string_view text) {
  if (pattern.empty()) return text.empty();
  if (pattern.front() == '*') {
    for (std::size_t skip = 0; skip <= text.size(); ++skip) {
      if (Glob(pattern.substr(1), text.substr(skip))) return true;
    }
    return false;
  }
  return !text.empty() && pattern.front() == text.front() &&
         Glob(pattern.substr(1), text.substr(1));
}

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

std::string_view WithoutPort(std::string_view host) {
  const std::size_t colon = host.rfind(':');
  return colon == std::string_view::npos ? host : host.substr(0, colon);
}

// A pattern or a site taken apart: an empty scheme or port stands for any.
struct UrlParts {
  std::string scheme;
  std::string host;         // "*" for any host
  bool subdomains = false;  // "[*.]host" or "*.host": the host and every name under it
  std::string port;
};

UrlParts Parse(std::string_view text) {
  UrlParts parts;
  std::string lower = common::AsciiLower(Trimmed(text));
  std::string_view rest = lower;
  if (const std::size_t scheme = rest.find("://"); scheme != std::string_view::npos) {
    parts.scheme = std::string(rest.substr(0, scheme));
    if (parts.scheme == "*") parts.scheme.clear();
    rest.remove_prefix(scheme + 3);
  }
  rest = rest.substr(0, rest.find('/'));
  for (const std::string_view prefix : {std::string_view("[*.]"), std::string_view("*.")}) {
    if (rest.substr(0, prefix.size()) == prefix) {
      parts.subdomains = true;
      rest.remove_prefix(prefix.size());
    }
  }
  if (const std::size_t colon = rest.rfind(':'); colon != std::string_view::npos) {
    parts.port = std::string(rest.substr(colon + 1));
    if (parts.port == "*") parts.port.clear();
    rest = rest.substr(0, colon);
  }
  if (!rest.empty() && rest.back() == '.') rest.remove_suffix(1);
  parts.host = std::string(rest);
  return parts;
}

bool Within(std::string_view host, std::string_view domain) {
  return host == domain || EndsWith(host, "." + std::string(domain));
}

}  // namespace

std::string HttpsProxyOf(std::string_view proxyText) {
  std::string_view plain;
  std::string_view secure;
  for (const std::string_view entry : Entries(proxyText, "; ")) {
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos) {
      if (plain.empty()) plain = entry;
    } else if (common::AsciiLower(entry.substr(0, equals)) == "https" && secure.empty()) {
      secure = entry.substr(equals + 1);
    }
  }
  const std::string_view chosen = secure.empty() ? plain : secure;
  return common::AsciiLower(chosen) == "direct" ? std::string() : std::string(chosen);
}

bool Bypassed(std::string_view bypassList, std::string_view host) {
  const std::string name = common::AsciiLower(host);
  for (const std::string_view entry : Entries(bypassList, "; ,")) {
    const std::string rule = common::AsciiLower(entry);
    if (rule == "<local>") {
      if (name.find('.') == std::string::npos) return true;
      continue;
    }
    std::string_view bare = rule;
    if (const std::size_t scheme = bare.find("://"); scheme != std::string_view::npos) {
      bare.remove_prefix(scheme + 3);
    }
    if (Glob(WithoutPort(bare), name)) return true;
  }
  return false;
}

Findings JudgeProxy(const ProxyFacts& facts) {
  const std::string proxy = facts.proxy ? HttpsProxyOf(*facts.proxy) : std::string();
  const std::string_view bareHost = WithoutPort(facts.host);
  const bool direct = proxy.empty() || (!facts.fromScript && Bypassed(facts.bypass, bareHost));
  if (direct) {
    return {
        {Level::kPass, "PROXY", "Connections to " + facts.host + " go direct, through no proxy."}};
  }
  const std::string source =
      facts.fromScript ? "the proxy configuration script" : "the proxy settings";
  // The report goes into the support bundle: no user name or password of the proxy.
  const std::string shown = MaskProxyCredentials(proxy);
  // Browsers never send loopback names to a proxy, unless the exceptions take that rule back.
  for (const std::string_view entry : Entries(facts.bypass, "; ,")) {
    if (common::AsciiLower(entry) == "<-loopback>") {
      return {{Level::kFail, "PROXY",
               "The proxy exceptions hold <-loopback>, so browsers send even " +
                   facts.loopbackHost + " and 127.0.0.1 to the proxy " + shown +
                   ", which cannot reach this computer: remove <-loopback> from the exceptions."}};
    }
  }
  return {{Level::kWarn, "PROXY",
           "For this user " + source + " send" + (facts.fromScript ? "s " : " ") + facts.host +
               " to the proxy " + shown +
               ", which cannot reach this computer: the page library "
               "uses " +
               facts.loopbackHost +
               ", which browsers never send to a proxy, but pages "
               "that name " +
               std::string(bareHost) + " fail; add " + std::string(bareHost) +
               " to the proxy's exceptions (a DIRECT answer in the script, or the bypass list)."}};
}

bool PatternMatchesSite(std::string_view pattern, std::string_view site) {
  const UrlParts rule = Parse(pattern);
  const UrlParts page = Parse(site);
  if (!rule.scheme.empty() && rule.scheme != page.scheme) return false;
  if (!rule.port.empty() && !page.port.empty() && rule.port != page.port) return false;
  if (rule.host == "*" || rule.host.empty()) return true;
  if (!page.subdomains)
    return rule.subdomains ? Within(page.host, rule.host) : rule.host == page.host;
  // The site is a whole domain: any rule that meets one of its names blocks a page of it.
  return Within(rule.host, page.host) || (rule.subdomains && Within(page.host, rule.host));
}

Findings JudgeBlockedLists(const std::vector<BlockedList>& lists,
                           const std::vector<std::string>& sites) {
  std::string blocked;
  for (const BlockedList& list : lists) {
    for (const std::string& pattern : list.patterns) {
      for (const std::string& site : sites) {
        if (!PatternMatchesSite(pattern, site)) continue;
        blocked += (blocked.empty() ? "" : "; ") + list.browser + "'s policy " + list.policy +
                   " lists " + pattern + ", which blocks the approved site " + site;
        break;
      }
    }
  }
  if (blocked.empty()) {
    return {{Level::kPass, "POLICY_BLOCKED",
             "No browser policy blocks the approved sites from the local service."}};
  }
  return {{Level::kFail, "POLICY_BLOCKED",
           blocked + ": remove the entry from the policy (a blocked list comes before every allow "
                     "list)."}};
}

}  // namespace qardex::checkup
