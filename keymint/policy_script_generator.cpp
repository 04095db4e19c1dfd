// Build step: makes a browser-policy script from its template, putting the approved origins of
// the approved-site list where the template says "@APPROVED_ORIGINS@" and the shared routines
// where it says "@POLICY_ROUTINES@"; lines end in CR LF, as the command interpreter expects.
//
//   policy_script_generator TEMPLATE ROUTINES OUTPUT
#include <cstdio>
#include <exception>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "keymint/approved_origins.h"

namespace {

std::string ReadText(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(std::string("cannot read ") + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void ReplaceOnce(std::string* text, const std::string& placeholder, const std::string& value) {
  const std::size_t at = text->find(placeholder);
  if (at == std::string::npos) return;
  text->replace(at, placeholder.size(), value);
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
    std::string origins;
    for (const std::string& origin :
         qardex::keymint::FixedNameOrigins(kApprovedSites, kApprovedSiteCount)) {
      origins += (origins.empty() ? "" : " ") + origin;
    }
    std::string script = ReadText(argv[1]);
    ReplaceOnce(&script, "@POLICY_ROUTINES@", ReadText(argv[2]));
    ReplaceOnce(&script, "@APPROVED_ORIGINS@", origins);
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
