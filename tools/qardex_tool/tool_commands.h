// What qardex-tool prints for a command line, kept apart from the process so tests can run it.
#pragma once

#include <string>
#include <vector>

namespace qardex::tool {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitDecipherFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitKeyFileFailed = 3;

struct ToolRun {
  int exitCode = kExitSuccess;
  std::string out;  // bytes for standard output
  std::string err;  // text for standard error
};

// `args` excludes the program name.
ToolRun RunTool(const std::vector<std::string>& args);

}  // namespace qardex::tool
