// Points the error log at a private folder for the length of a test and
// reads back what was written there.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace qardex::testing {

class LogCapture {
 public:
  LogCapture() {
    char pattern[] = "/tmp/qardex-log-XXXXXX";
    folder_ = mkdtemp(pattern);
    const char* previous = std::getenv("TMPDIR");
    if (previous) previous_ = previous;
    hadPrevious_ = previous != nullptr;
    setenv("TMPDIR", folder_.c_str(), 1);
  }
  ~LogCapture() {
    if (hadPrevious_) {
      setenv("TMPDIR", previous_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  const std::string& folder() const { return folder_; }

  // Every log file in the folder, by name, concatenated.
  std::string Text() const {
    std::string all;
    for (const auto& file : Files()) all += Read(file);
    return all;
  }
  std::vector<std::filesystem::path> Files() const {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
      files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
  }
  static std::string Read(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  std::string folder_;
  std::string previous_;
  bool hadPrevious_ = false;
};

}  // namespace qardex::testing
