#include "service/certificate_set_win.h"

#include <windows.h>

#include <openssl/crypto.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "keymint/certificate_set.h"
#include "keymint/set_writer.h"
#include "qardex_constants.h"
#include "setup/browser_root_win.h"
#include "setup/command_runner_win.h"
#include "setup/guarded_paths.h"
#include "setup/install_layout.h"
#include "setup/local_roots_win.h"
#include "setup/root_store_win.h"
#include "setup/write_guard_win.h"

namespace qardex::service {

namespace fs = std::filesystem;

namespace {

// Certificate and key files are a few kilobytes; anything near this is not one.
constexpr std::uintmax_t kLargestSetFile = 256 * 1024;
// The longest wait between two rounds, and how often a wait looks at the stop flag.
constexpr std::chrono::seconds kLongestWait{60 * 60};
constexpr std::chrono::milliseconds kStopPoll{250};

// Where the installer puts its copy of KeyMint's file `name`.
std::string CopyNameOf(const std::string& name) {
  const std::string source = std::string("cert\\") + name;
  for (const auto& pair : setup::kCertificateCopyNames) {
    if (source == pair[0]) return pair[1];
  }
  return name;
}

// The set's files under the names of the installer's copies; the root's by its serial number.
std::vector<keymint::NamedFile> PlacedFiles(const keymint::CertificateSet& set,
                                            const std::string& serial) {
  std::vector<keymint::NamedFile> files = keymint::FilesOf(set);
  for (keymint::NamedFile& file : files) {
    file.name = file.name == keymint::kRootCertificateFile ? setup::BrowserRootCopyFor(serial)
                                                           : CopyNameOf(file.name);
  }
  return files;
}

// FoxTrust.cmd with the new copy's name: Firefox's list and its record name it instead. Run as
// SYSTEM, only while no one but the administrators can change the script or its folders, as
// cardsetup checks before it runs the script.
void TrustInBrowsers(const fs::path& folder, const std::string& serial, ServiceLog& log) {
  const std::string root = folder.string();
  const setup::LineSink toLog = [&log](const std::string& line) {
    log.Write("certificate renewal: " + line.substr(0, line.find_last_not_of("\r\n") + 1));
  };
  setup::Overflow overflow;
  const std::optional<std::string> command =
      setup::ScriptCommand(root, setup::kTrustScript, &overflow);
  if (!setup::OnlyAdministratorsCanMove(setup::AncestorFolders(root), toLog) ||
      !setup::OnlyAdministratorsCanWrite({root, root + '\\' + setup::kTrustScript}, toLog)) {
    toLog(std::string(setup::kTrustScript) + " not run; Firefox does not know the new root");
    return;
  }
  const int code =
      command ? setup::RunThroughInterpreter(*command + setup::BrowserRootNameFor(serial), true)
              : -1;
  if (code != 0) {
    toLog(std::string(setup::kTrustScript) + " ended with " + std::to_string(code) +
          "; Firefox may not trust the new root");
  }
}

std::string RefusalText(setup::ImportOutcome outcome) {
  switch (outcome) {
    case setup::ImportOutcome::kRefused:
      return "it is not confined to the local service's names";
    case setup::ImportOutcome::kStoreRefused:
      return "the store cannot be opened or written";
    default:
      return "it cannot be read";
  }
}

}  // namespace

SetFile ReadSetFile(const fs::path& path) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  if (error) return {std::nullopt, "cannot read " + path.u8string() + ": " + error.message()};
  if (size > kLargestSetFile) {
    return {std::nullopt, path.u8string() + " is too large to be a certificate or key file"};
  }
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  if (!file) return {std::nullopt, "cannot read " + path.u8string()};
  return {text.str(), {}};
}

keymint::CertificateFacts ExamineSetIn(const fs::path& folder, std::time_t now) {
  const SetFile certificates = ReadSetFile(folder / keymint::kServerCertificateFile);
  const SetFile key = ReadSetFile(folder / keymint::kServerKeyFile);
  return keymint::ExamineCertificates(certificates.text.value_or(""), key.text.value_or(""), now);
}

std::string RenewSetIn(const fs::path& folder, const UseSet& use, ServiceLog& log,
                       bool browserPolicies) {
  const std::time_t now = std::time(nullptr);
  const keymint::CertificateSet set = keymint::MintCertificateSet(
      {build::kLocalServiceHost, build::kLocalServiceAddress}, now, keymint::LifetimeOfNewSets());
  const std::string certificates = set.rootCertificate + set.serverCertificate;
  const std::string serial =
      keymint::ExamineCertificates(certificates, set.serverKey, now).rootSerial;
  if (serial.empty()) return "the new root has no serial number";

  const setup::RootImport trusted = setup::AddLocalServiceRoot(set.rootCertificate);
  if (trusted.outcome != setup::ImportOutcome::kAdded &&
      trusted.outcome != setup::ImportOutcome::kAlreadyPresent) {
    return "the machine's root store did not take the new root: " + RefusalText(trusted.outcome);
  }
  try {
    keymint::WriteAllOrNothing(folder, PlacedFiles(set, serial));
  } catch (const std::exception& failure) {
    setup::RemoveLocalServiceRoot(trusted.encoded);
    return failure.what();
  }
  // The files are the new set from here on: a service that starts again uses them.
  if (const std::string why = use(certificates, set.serverKey); !why.empty()) {
    return "the listener cannot use the new set: " + why;
  }
  if (!setup::RemoveLocalServiceRoots(trusted.encoded)) {
    log.Write("certificate renewal: earlier roots could not all be deleted from the root store");
  }
  if (browserPolicies) {
    TrustInBrowsers(folder, serial, log);
  } else {
    log.Write(std::string("certificate renewal: ") + setup::kTrustScript +
              " not run; the browsers' policies are left to group policy");
  }
  setup::RemoveOtherBrowserRoots(folder, setup::BrowserRootNameFor(serial));
  return {};
}

void KeepRenewalNote(const fs::path& folder, const keymint::RenewalFailure* failure) {
  std::error_code error;
  if (failure == nullptr) {
    fs::remove(folder / keymint::kRenewalNoteFile, error);
    return;
  }
  try {
    keymint::WriteAllOrNothing(
        folder, {{keymint::kRenewalNoteFile, keymint::FormatRenewalFailure(*failure)}});
  } catch (const std::exception&) {
    // The service's log has the failure all the same.
  }
}

ServiceCertificates::ServiceCertificates(fs::path folder, ServiceLog& log, bool browserPolicies)
    : folder_(std::move(folder)),
      renewal_(
          {[this](std::time_t now) { return ExamineSetIn(folder_, now); },
           [this, &log, browserPolicies] {
             return RenewSetIn(
                 folder_,
                 [this](const std::string& certificates, const std::string& key) {
                   return Use(certificates, key);
                 },
                 log, browserPolicies);
           },
           [this](const keymint::RenewalFailure* failure) { KeepRenewalNote(folder_, failure); },
           [] { return std::time(nullptr); }},
          log) {}

void ServiceCertificates::RenewWhenUnusable() {
  if (keymint::PlanRenewal(ExamineSetIn(folder_, std::time(nullptr))).condition ==
      keymint::SetCondition::kUnusable) {
    renewal_.Round();
  }
}

std::string ServiceCertificates::Use(const std::string& certificates, const std::string& key) {
  TlsContext tls = MakeTlsContext(certificates, key);
  CurrentTls* listener = listener_.load();
  if (tls.context && listener != nullptr) listener->Replace(std::move(tls.context));
  return tls.error;
}

RenewalThread::RenewalThread(CertificateRenewal& renewal)
    : thread_([this, &renewal] { Run(renewal); }) {}

RenewalThread::~RenewalThread() {
  stop_ = true;
  thread_.join();
}

void RenewalThread::Run(CertificateRenewal& renewal) {
  using Clock = std::chrono::steady_clock;
  while (!stop_.load()) {
    std::int64_t seconds = kLongestWait.count();
    try {
      seconds = renewal.Round();
    } catch (...) {
      // Nothing leaves the thread; the next round comes at the longest wait.
    }
    const std::chrono::seconds wait(std::clamp<std::int64_t>(seconds, 1, kLongestWait.count()));
    const Clock::time_point deadline = Clock::now() + wait;
    while (!stop_.load() && Clock::now() < deadline) std::this_thread::sleep_for(kStopPoll);
  }
  OPENSSL_thread_stop();  // a static OpenSSL keeps per-thread state otherwise
}

}  // namespace qardex::service
