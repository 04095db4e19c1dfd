// cardsetup: prepares the machine for the local service edition in one pass — hosts entry,
// certificate files, browser-store script, service "mQARDEX" and its event source, root-store
// certificate — and keeps an install log in the temporary folder. Exit code 0 on success, -1 on
// failure.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>

#include "qardex_constants.h"
#include "setup/browser_root_win.h"
#include "setup/certificate_files_win.h"
#include "setup/command_runner_win.h"
#include "setup/dll_search_win.h"
#include "setup/event_source_win.h"
#include "setup/guarded_paths.h"
#include "setup/hosts_files_win.h"
#include "setup/install_layout.h"
#include "setup/install_log_win.h"
#include "setup/install_texts.h"
#include "setup/listener_table_win.h"
#include "setup/program_folder_win.h"
#include "setup/root_store_win.h"
#include "setup/service_manager_win.h"
#include "setup/service_steps.h"
#include "setup/write_guard_win.h"

namespace qardex::setup {
namespace {

void ToConsole(const std::string& line) { std::fwrite(line.data(), 1, line.size(), stdout); }

int ReportOverflow(const Overflow& overflow) {
  ToConsole(OverflowLine(overflow));
  return -1;
}

// The log when its path fits and it opens; the run goes on without it otherwise.
std::optional<InstallLog> OpenInstallLog() {
  char temp[MAX_PATH + 1] = {};
  const DWORD tempLength = GetTempPathA(sizeof temp, temp);
  if (tempLength == 0 || tempLength >= sizeof temp) return std::nullopt;
  Overflow overflow;
  const std::optional<std::string> path = InstallLogPath(temp, &overflow);
  if (!path) return std::nullopt;
  std::optional<InstallLog> log(std::in_place, *path);
  // Its own line, before the start entry that the next entries continue.
  if (!log->Note().empty()) {
    const std::string line = Format(text::kLogReplaced, log->Note().c_str());
    ToConsole(line);
    log->Write(line);
  }
  log->Write(text::LogStart(LocalTimeNow()));
  return log;
}

// What the run does to the browsers' policies.
enum class BrowserPolicies { kWritten, kLeftToGroupPolicy };

int Install(BrowserPolicies policies) {
  Overflow overflow;
  std::optional<InstallLog> log = OpenInstallLog();
  const LineSink toLog = [&log](const std::string& entry) {
    if (log) log->Write(entry);
  };

  // Every path is known before anything changes.
  const std::optional<std::string> folder = InstallationFolder(ToConsole);
  if (!folder) return -1;
  const std::optional<InstallLayout> layout = BuildInstallLayout(*folder, &overflow);
  if (!layout) return ReportOverflow(overflow);
  const std::optional<std::string> system = SystemFolder(ToConsole);
  if (!system) return -1;
  const std::optional<HostsPaths> hosts = BuildHostsPaths(*system, &overflow);
  if (!hosts) return ReportOverflow(overflow);
  // Nothing is run or trusted from a folder that others can change.
  const LineSink toBoth = [&toLog](const std::string& line) {
    ToConsole(line);
    toLog(line);
  };
  // Nor from one that someone else could swap for another by renaming a folder above it.
  if (!OnlyAdministratorsCanMove(AncestorFolders(*folder), toBoth) ||
      !OnlyAdministratorsCanWrite(InstallerGuardedPaths(*folder, *layout), toBoth)) {
    return -1;
  }

  if (UpdateHostsFile(SystemHostsFiles(), *hosts, build::kLocalServiceHost, ToConsole) ==
      HostsOutcome::kFailed) {
    return -1;
  }

  // Only what the tool writes in this run is copied and trusted.
  const CopyFlags cleared = ClearToolOutput(*layout);
  toLog(Format(text::kLogKeyMint, RunThroughInterpreter(layout->keyMintCommand)));
  const PlacedFiles placed = PlaceCertificateFiles(*layout, cleared);
  if (placed.keyDeleteError != 0) {
    toBoth(Format(text::kKeyNotDeleted, layout->copies[kServerKeyCopy].source.c_str(),
                  placed.keyDeleteError));
    return -1;
  }
  // Firefox's list names the root's copy of this run, by a path of its own.
  std::string trustCommand = layout->trustCommand;
  if (placed.copied[kRootCertificateCopy]) {
    const std::optional<std::string> name = PlaceBrowserRoot(*folder, placed.rootText);
    if (name && trustCommand.size() + name->size() <= kPathLimit) trustCommand += *name;
  }
  std::string serviceArguments;
  if (policies == BrowserPolicies::kWritten) {
    toLog(Format(text::kLogFoxTrust, RunThroughInterpreter(trustCommand)));
  } else {
    // What an earlier run wrote goes, as when this installation is removed.
    if (const std::optional<std::string> untrust =
            ScriptCommand(*folder, kUntrustScript, &overflow)) {
      toLog(Format(text::kLogFoxUntrust, RunThroughInterpreter(*untrust)));
    }
    toBoth(text::kPoliciesLeft);
    serviceArguments = build::kNoBrowserPoliciesSwitch;
  }

  // Before the start, so that the service's first events have their texts. Only a failure is
  // told: the console's lines are the ones administrators' scripts already read.
  if (const SystemError error = RegisterServiceEventSource(layout->serviceProgram)) {
    toBoth(Format(text::kEventSourceFailed, kServiceName, error));
  }
  if (ReplaceAndStartService(SystemServiceControl(), SystemListenerTable(), kServiceName,
                             {layout->serviceProgram, serviceArguments}, ToConsole, toLog) != 0) {
    return -1;
  }

  // The import's outcome leaves the result as it is. The text is what the tool's file held when
  // it was copied, whatever the script or anyone else wrote there since.
  if (placed.copied[kRootCertificateCopy]) {
    TrustLocalServiceRoot(placed.rootText, ToConsole, toLog);
  } else {
    ToConsole(text::kNoFreshCertificate);
  }
  toLog(text::LogEnd(LocalTimeNow()));
  return 0;
}

}  // namespace
}  // namespace qardex::setup

int main(int argc, char** argv) {
  using qardex::setup::BrowserPolicies;
  qardex::setup::LoadDllsFromSystemFolderOnly();
  const bool leftToGroupPolicy =
      argc == 2 && std::strcmp(argv[1], qardex::build::kNoBrowserPoliciesSwitch) == 0;
  if (argc > 1 && !leftToGroupPolicy) {
    std::fputs(qardex::setup::text::kSetupUsage, stdout);
    return -1;
  }
  try {
    return qardex::setup::Install(leftToGroupPolicy ? BrowserPolicies::kLeftToGroupPolicy
                                                    : BrowserPolicies::kWritten);
  } catch (const std::exception& failure) {
    std::fprintf(stdout, qardex::setup::text::kUnexpected, failure.what());
  } catch (...) {
    std::fprintf(stdout, qardex::setup::text::kUnexpected, "unknown");
  }
  return -1;
}
