// qardex-tool: see tool_arguments.h for the command line.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "tools/qardex_tool/tool_commands.h"

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const qardex::tool::ToolRun run = qardex::tool::RunTool(args);
    std::fwrite(run.out.data(), 1, run.out.size(), stdout);
    std::fwrite(run.err.data(), 1, run.err.size(), stderr);
    return run.exitCode;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "qardex-tool: %s\n", error.what());
    return qardex::tool::kExitDecipherFailed;
  }
}
