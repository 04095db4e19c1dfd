// cardremove: stops and deletes the service "mQARDEX" and its event source, runs the browser-store
// removal script of the installation folder and deletes the local service's roots from the
// machine's root store and their copies named by serial from certpem\. Exit code 0, or -1 when the
// Service Control Manager cannot be reached, the script's command would be too long or others can
// change the script, its folder or a folder above.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>

#include "remove/removal.h"
#include "remove/removal_texts.h"
#include "setup/browser_root_win.h"
#include "setup/command_runner_win.h"
#include "setup/dll_search_win.h"
#include "setup/event_source_win.h"
#include "setup/guarded_paths.h"
#include "setup/install_layout.h"
#include "setup/install_texts.h"
#include "setup/local_roots_win.h"
#include "setup/program_folder_win.h"
#include "setup/service_manager_win.h"
#include "setup/write_guard_win.h"

namespace qardex::remove {
namespace {

void ToConsole(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

int Remove() {
  const std::optional<std::string> folder = setup::InstallationFolder(ToConsole);
  if (!folder) return -1;
  // The service goes all the same; the script, which runs elevated, is skipped when others can
  // change it or its folder.
  bool scriptRefused = false;
  const int result = RunRemoval(
      setup::SystemServiceControl(), *folder, ToConsole,
      [&folder, &scriptRefused](const std::string& command) {
        // On a line of its own, as the report of a command that does not fit.
        const setup::LineSink report = [](const std::string& line) { ToConsole("\n" + line); };
        scriptRefused =
            !setup::OnlyAdministratorsCanMove(setup::AncestorFolders(*folder), report) ||
            !setup::OnlyAdministratorsCanWrite(setup::RemovalGuardedPaths(*folder), report);
        if (scriptRefused) {
          ToConsole(setup::Format(text::kScriptSkipped, setup::kUntrustScript));
        } else {
          setup::RunThroughInterpreter(command);
        }
      });
  // Only a failure is told, as by the installer.
  if (const setup::SystemError error = setup::RemoveServiceEventSource()) {
    ToConsole(setup::Format(setup::text::kEventSourceNotRemoved, setup::kServiceName, error));
  }
  // No root of the local service outlives it; a failure here leaves the result as it is.
  setup::RemoveLocalServiceRoots({});
  // Nor the root copies named by serial that the installer and the service wrote for Firefox.
  setup::RemoveOtherBrowserRoots(std::filesystem::path(*folder), "");
  return scriptRefused ? -1 : result;
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
