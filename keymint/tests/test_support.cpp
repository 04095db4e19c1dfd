#include "keymint/tests/test_support.h"

#include <openssl/pem.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qardex::keymint::test {

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder() {
  std::string pattern = (fs::temp_directory_path() / "keymint-test.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

CommandResult RunCommand(const std::string& command) {
  CommandResult result{-1, {}};
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    result.output.append(buffer, n);
  }
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

CommandResult RunOpenssl(const std::string& arguments) {
  return RunCommand(std::string(OPENSSL_COMMAND) + " " + arguments);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::vector<PemBlock> PemBlocks(const std::string& text) {
  std::vector<PemBlock> blocks;
  const std::string begin = "-----BEGIN ";
  for (std::size_t at = text.find(begin); at != std::string::npos; at = text.find(begin, at)) {
    const std::size_t labelEnd = text.find("-----", at + begin.size());
    const std::string label = text.substr(at + begin.size(), labelEnd - at - begin.size());
    const std::string end = "-----END " + label + "-----\n";
    const std::size_t stop = text.find(end, labelEnd);
    if (stop == std::string::npos) break;
    blocks.push_back({label, text.substr(at, stop + end.size() - at)});
    at = stop + end.size();
  }
  return blocks;
}

X509Ptr CertificateFrom(const std::string& pem) {
  BioPtr memory(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  return X509Ptr(PEM_read_bio_X509(memory.get(), nullptr, nullptr, nullptr));
}

}  // namespace qardex::keymint::test
