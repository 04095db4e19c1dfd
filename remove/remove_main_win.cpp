// cardremove: stops and deletes the service "mQARDEX" and runs the browser-store removal
// script of the installation folder. Exit code 0, or -1 when the Service Control Manager
// cannot be reached or the script's command would be too long.
#include <cstdio>
#include <exception>
#include <optional>

#include "remove/removal.h"
#include "setup/command_runner_win.h"
#include "setup/dll_search_win.h"
#include "setup/install_texts.h"
#include "setup/program_folder_win.h"
#include "setup/service_manager_win.h"

namespace qardex::remove {
namespace {

void ToConsole(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

int Remove() {
  const std::optional<std::string> folder = setup::InstallationFolder(ToConsole);
  if (!folder) return -1;
  return RunRemoval(setup::SystemServiceControl(), *folder, ToConsole,
                    [](const std::string& command) { setup::RunThroughInterpreter(command); });
}

}  // namespace
}  // namespace qardex::remove

int main() {
  qardex::setup::LoadDllsFromSystemFolderOnly();
  try {
    return qardex::remove::Remove();
  } catch (const std::exception& failure) {
    std::fprintf(stdout, qardex::setup::text::kUnexpected, failure.what());
  } catch (...) {
    std::fprintf(stdout, qardex::setup::text::kUnexpected, "unknown");
  }
  return -1;
}
