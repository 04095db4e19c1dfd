#include "setup/install_layout.h"

#include "setup/install_texts.h"

namespace qardex::setup {

namespace {

// Collects texts and remembers the first one that does not fit.
class Builder {
 public:
  explicit Builder(Overflow* overflow) : overflow_(overflow) {}

  std::string Path(std::string text) { return Checked("Path", std::move(text)); }
  std::string Command(std::string text) { return Checked("Command", std::move(text)); }
  bool ok() const { return ok_; }

 private:
  std::string Checked(const char* kind, std::string text) {
    if (ok_ && text.size() > kPathLimit) {
      ok_ = false;
      if (overflow_) *overflow_ = Overflow{kind, text};
    }
    return text;
  }

  Overflow* overflow_;
  bool ok_ = true;
};

std::string Join(std::string_view folder, std::string_view name) {
  std::string path(folder);
  path += '\\';
  path += name;
  return path;
}

std::string CallQuoted(std::string_view path) {
  std::string command = "call \"";
  command += path;
  command += '"';
  return command;
}

}  // namespace

std::string OverflowLine(const Overflow& overflow) {
  return Format(text::kTooLong, overflow.kind, static_cast<int>(kPathLimit), overflow.text.c_str());
}

std::optional<InstallLayout> BuildInstallLayout(std::string_view folder, Overflow* overflow) {
  Builder b(overflow);
  InstallLayout layout;
  layout.serviceProgram = b.Path(Join(folder, kServiceProgram));
  layout.keyMintCommand = b.Command(CallQuoted(Join(folder, kKeyMintProgram)));
  layout.trustCommand = b.Command(CallQuoted(Join(folder, kTrustScript)) + ' ');
  const char* const pairs[4][2] = {
      {"cert\\ZELServerCert.crt", "ZELServerCert.crt"},
      {"cert\\ZELServerCert.key", "ZELServerCert.key"},
      {"cert\\ZELRootCA.pem", kBrowserRootCopy},
      {"cert\\ZELServerCert.pem", "certpem\\ZELServerCert.pem"},
  };
  for (std::size_t i = 0; i < layout.copies.size(); ++i) {
    layout.copies[i].source = b.Path(Join(folder, pairs[i][0]));
    layout.copies[i].destination = b.Path(Join(folder, pairs[i][1]));
  }
  // The root store receives the copy the installer itself placed.
  layout.rootCertificate = layout.copies[kRootCertificateCopy].destination;
  if (!b.ok()) return std::nullopt;
  return layout;
}

std::optional<std::string> ScriptCommand(std::string_view folder, std::string_view script,
                                         Overflow* overflow) {
  Builder b(overflow);
  std::string command = b.Command(CallQuoted(Join(folder, script)) + ' ');
  if (!b.ok()) return std::nullopt;
  return command;
}

std::optional<std::string> InstallLogPath(std::string_view tempFolder, Overflow* overflow) {
  Builder b(overflow);
  std::string path = b.Path(std::string(tempFolder) + kInstallLogName);
  if (!b.ok()) return std::nullopt;
  return path;
}

std::optional<HostsPaths> BuildHostsPaths(std::string_view systemFolder, Overflow* overflow) {
  Builder b(overflow);
  HostsPaths paths;
  paths.hosts = b.Path(Join(systemFolder, "drivers\\etc\\hosts"));
  paths.backup = b.Path(paths.hosts + kHostsBackupSuffix);
  paths.staging = b.Path(paths.hosts + kHostsStagingSuffix);
  if (!b.ok()) return std::nullopt;
  return paths;
}

}  // namespace qardex::setup
