// Helpers of the certificate tool's tests: scratch folders, running commands, PEM blocks.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "keymint/openssl_handles.h"

namespace qardex::keymint::test {

// A new empty folder under the system's temporary folder, removed with the object.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

struct CommandResult {
  int status;
  std::string output;  // standard output and standard error
};

CommandResult RunCommand(const std::string& command);

// `openssl ARGUMENTS` with the paths quoted by the caller.
CommandResult RunOpenssl(const std::string& arguments);

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& content);

struct PemBlock {
  std::string label;  // "CERTIFICATE", "PRIVATE KEY", ...
  std::string text;   // the whole block, armour included
};

std::vector<PemBlock> PemBlocks(const std::string& text);

X509Ptr CertificateFrom(const std::string& pem);

}  // namespace qardex::keymint::test
