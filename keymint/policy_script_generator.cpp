// Build step: makes a browser-policy script from its template, putting the approved origins of
// the approved-site list where the template says "@APPROVED_ORIGINS@" (those listed as they
// are), "@LOCALHOST_ORIGINS@" (those listed with the ports of the LocalhostPorts policy) and
// "@APPROVED_HOSTS@" (the hosts of the first, for Firefox's list), and
// the shared routines where it says "@POLICY_ROUTINES@"; our policy key, the LocalhostPorts
// value's name and its bound come from the same headers the service reads. Lines end in
// CR LF, as the command interpreter expects.
//
//   policy_script_generator TEMPLATE ROUTINES OUTPUT
#include <cstdio>
#include <exception>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/policy_values.h"
#include "keymint/approved_origins.h"
#include "sitelock/localhost_ports.h"

namespace {

std::string ReadText(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(std::string("cannot read ") + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void Replace(std::string* text, const std::string& placeholder, const std::string& value) {
  for (std::size_t at = text->find(placeholder); at != std::string::npos;
       at = text->find(placeholder, at + value.size())) {
    text->replace(at, placeholder.size(), value);
  }
}

std::string Joined(const std::vector<std::string>& texts) {
  std::string joined;
  for (const std::string& text : texts) joined += (joined.empty() ? "" : " ") + text;
  return joined;
}

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\r') continue;
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s TEMPLATE ROUTINES OUTPUT\n", argv[0]);
    return 2;
  }
  try {
    using qardex::sitelock::kApprovedSiteCount;
    using qardex::sitelock::kApprovedSites;
    const qardex::keymint::PolicyOrigins origins = qardex::keymint::ByLocalhostRule(
        qardex::keymint::FixedNameOrigins(kApprovedSites, kApprovedSiteCount));
    std::string script = ReadText(argv[1]);
    Replace(&script, "@POLICY_ROUTINES@", ReadText(argv[2]));
    Replace(&script, "@APPROVED_ORIGINS@", Joined(origins.anyPort));
    Replace(&script, "@LOCALHOST_ORIGINS@", Joined(origins.listedPortsOnly));
    Replace(&script, "@APPROVED_HOSTS@", Joined(qardex::keymint::HostsOf(origins.anyPort)));
    Replace(&script, "@POLICY_KEY@", std::string("HKLM\\") + qardex::common::kPolicyKeyPath);
    Replace(&script, "@LOCALHOST_PORTS_VALUE@", qardex::common::kLocalhostPortsValue);
    Replace(&script, "@LOCALHOST_PORTS_LIMIT@",
            std::to_string(qardex::sitelock::kLocalhostPortsLimit));
    std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
    out << WithCrLf(script);
    out.close();
    if (!out) throw std::runtime_error(std::string("cannot write ") + argv[3]);
    return 0;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "policy_script_generator: %s\n", failure.what());
    return 1;
  }
}
